% Octave exits with a live UDP connection: the exit hook stops the link without a word
% (the harness fails the test on any text on standard error or a late exit).
expect_equal(kestmex(), true, 'open');
assert(isa(kestmex('time'), 'double'));
