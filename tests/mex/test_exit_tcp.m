% Octave exits with a live TCP connection after `clear all` and a new open.
expect_equal(kestmex('tcp'), true, 'open over tcp');
clear all;
expect_equal(kestmex('tcp'), true, 'open over tcp after clear all');
assert(isa(kestmex('time'), 'double'));
