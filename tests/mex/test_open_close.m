% Opening on the first call with its startup options, "close", reopening, and unloading the
% module with a live connection. The whole sequence runs twice in one session, with
% `clear kestmex` in between.
for round = 1:2
  if round == 1
    % No arguments: opens over UDP and returns logical true.
    expect_equal(kestmex(), true, 'first call without arguments');
  else
    % After `clear kestmex` the module starts afresh: this call opens instead of running.
    expect_equal(kestmex('time'), true, 'first call after clear kestmex');
  end
  % With a connection, no arguments: true again, nothing run.
  expect_equal(kestmex(), true, 'second call without arguments');
  t1 = kestmex('time');
  assert(isa(t1, 'double') && isscalar(t1) && t1 > 0, 'time is a positive double');
  wait_for_time(t1 + 1, 'the processor time to advance');
  stats = paxctl('stats');
  assert(~isempty(strfind(stats, 'tcp-config=0')), stats);

  % "close" ends the connection, prints nothing and returns nothing.
  expect_equal(evalc('kestmex(''close'')'), '', 'close prints nothing');
  % With no connection "close" is a startup option like any other: the call opens.
  expect_equal(kestmex('close'), true, 'close without a connection opens');
  assert(isa(kestmex('time'), 'double'), 'connection open after close-as-option');
  kestmex('close');

  % TCP by the option alone, or with a command that is then not run.
  expect_equal(kestmex('tcp'), true, 'tcp opens');
  stats = paxctl('stats');
  assert(~isempty(strfind(stats, 'tcp-config=1')), stats);
  assert(isa(kestmex('time'), 'double'), 'time over tcp');
  kestmex('close');
  opened = kestmex('time', 'tcp');
  expect_equal(opened, true, 'time with tcp opens and returns no time');
  kestmex('close');

  % "no-warning" and "addr" print what they set.
  ok = false;
  out = evalc('ok = kestmex(''no-warning'');');
  expect_equal(out, "setting warnings: off\n", 'no-warning line');
  expect_equal(ok, true, 'open with no-warning');
  kestmex('close');
  wired = getenv('KEST_WIRED_NET');
  out = evalc('ok = kestmex(''tcp'', ''addr'', [wired ''.1'']);');
  expect_equal(out, sprintf('using %s.1 for PAX communication\n', wired), 'addr line');
  expect_equal(ok, true, 'open over tcp with an address');
  kestmex('close');
  out = evalc('ok = kestmex(''addr'', [wired ''.1'']);');
  expect_equal(ok, true, 'open over udp with an address');
  kestmex('close');

  % Startup option errors open nothing.
  expect_error('invalid address', 'addr');
  expect_error('invalid address', 'time', 'addr', 5);
  expect_error('invalid address', 'addr', '');
  expect_error('invalid address', 'addr', repmat('1', 1, 256));
  expect_error('startup options must all be of type char', 'time', 5);
  expect_error('startup options must all be of type char', 'time', struct('a', 1));
  expect_error('invalid startup option', 'time', repmat('z', 1, 256));

  % No processor at that address: a warning, false, and the next call tries again.
  ok = expect_warning('unable to connect to processor', 'addr', [wired '.77']);
  expect_equal(ok, false, 'open without a processor');
  expect_equal(kestmex(), true, 'the next call opens');

  % Unloading with a live connection stops the link; the reloaded module opens anew on
  % the same ports.
  clear kestmex;
end
