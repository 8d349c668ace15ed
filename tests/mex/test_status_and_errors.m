% The cache's status on every call, and the processor's queued messages forwarded as errors
% and warnings before the command runs.
expect_equal(kestmex(), true, 'open');

% A warning is issued and the command still runs.
paxctl('error 3 101 fan speed low');
pause(0.5);
t = expect_warning('fan speed low', 'time');
assert(isa(t, 'double'), 'time runs after a warning');

% An error ends the call.
paxctl('error 7 102 front end lost');
pause(0.5);
expect_error('front end lost', 'time');
assert(isa(kestmex('time'), 'double'), 'the error was taken off the queue');

% Newest first, and an error leaves the older messages queued for the next call.
paxctl('error 2 103 older warning');
paxctl('error 6 104 newer error');
pause(0.5);
lastwarn('');
expect_error('newer error', 'time');
expect_equal(lastwarn(), '', 'no warning before the error');
expect_warning('older warning', 'time');

% Several warnings in one call, newest last shown.
paxctl('error 1 105 first');
paxctl('error 1 106 second');
pause(0.5);
out = evalc('t = kestmex(''time'');');
expect_equal(lastwarn(), 'first', 'oldest warning shown last');

% A configuration change: the call fails with the restart text and drops the connection;
% the next call opens again.
paxctl('config-change recording');
pause(1);
expect_error('PAX configuration changed.  Please restart kestmex.', 'time');
expect_equal(kestmex('time'), true, 'the next call opens again');
assert(isa(kestmex('time'), 'double'), 'and commands run');
kestmex('close');
