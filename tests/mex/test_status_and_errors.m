% The cache's status on every call, and the processor's queued messages forwarded as errors
% and warnings before the command runs.
expect_equal(kestmex(), true, 'open');

% A warning is issued and the command still runs.
paxctl('error 3 101 fan speed low');
t = eventually_warned('fan speed low');
assert(isa(t, 'double'), 'time runs after a warning');

% An error ends the call.
paxctl('error 7 102 front end lost');
eventually_error('front end lost');
assert(isa(kestmex('time'), 'double'), 'the error was taken off the queue');

% Newest first, and an error leaves the older messages queued for the next call. Both must
% be queued when a call takes them: a call that finds only the older one sees a warning, and
% the pair is sent again.
for attempt = 1:10
  paxctl('error 2 103 older warning');
  paxctl('error 6 104 newer error');
  try
    eventually_error('newer error');
    break;
  catch err
    assert(attempt < 10 && ~isempty(strfind(err.message, 'got warning "older warning"')), ...
           err.message);
    eventually_error('newer error'); % it came after that call: taken before the next pair
  end
end
expect_equal(lastwarn(), '', 'no warning before the error');
expect_warning('older warning', 'time');

% Several warnings in one call, newest last shown (sent again until one call finds both).
for attempt = 1:10
  paxctl('error 1 105 first');
  paxctl('error 1 106 second');
  [t, out] = eventually_warned('first');
  if ~isempty(strfind(out, 'second')) || attempt == 10
    break;
  end
  eventually_warned('second'); % it came after that call: taken before the next pair
end
assert(~isempty(strfind(out, 'second')), out);
expect_equal(lastwarn(), 'first', 'oldest warning shown last');

% A configuration change: the call fails with the restart text and drops the connection;
% the next call opens again.
paxctl('config-change recording');
eventually_error('PAX configuration changed.  Please restart kestmex.');
expect_equal(kestmex('time'), true, 'the next call opens again');
assert(isa(kestmex('time'), 'double'), 'and commands run');
kestmex('close');
