% "addoper" and "trial" against the emulated operators (130 and 131 on the wired network,
% 132 on the wireless one only).
wired = getenv('KEST_WIRED_NET');
wireless = getenv('KEST_WIRELESS_NET');
eid = @(address) uint32(sum(sscanf(address, '%d.%d.%d.%d')' .* 256 .^ (0:3)));
usage = @(varargin) strncmp(evalc('kestmex(varargin{:})'), 'usage:', 6);

% Operators need the stream link.
expect_equal(kestmex(), true, 'open over UDP');
expect_error('invalid network', 'addoper', '130');
kestmex('close');
expect_equal(kestmex('tcp'), true, 'open over TCP');

% Full and short addresses under each policy.
expect_equal(kestmex('addoper', [wired '.130']), eid([wired '.130']), 'full address');
expect_equal(kestmex('addoper', 131, 'wired-only'), eid([wired '.131']), 'number, wired-only');
expect_equal(kestmex('addoper', '132', 'prefer-wired', 500), eid([wireless '.132']), ...
             'prefer-wired falls back to the wireless network');
expect_equal(kestmex('addoper', '132', 'prefer-wireless'), eid([wireless '.132']), ...
             'prefer-wireless');
expect_equal(kestmex('addoper', '132', 'wireless-only'), eid([wireless '.132']), ...
             'wireless-only');
expect_equal(kestmex('addoper', '130', 'prefer-wireless', 300), eid([wired '.130']), ...
             'prefer-wireless falls back to the wired network');
parts = strsplit(wireless, '.');
expect_equal(kestmex('addoper', [parts{3} '.132']), eid([wireless '.132']), 'two numbers');
expect_error('operator not found', 'addoper', '132', 'wired-only', 300);
expect_error('operator not found', 'addoper', '140', 'prefer-wired', 300);

% Anything else prints the usage and returns nothing.
assert(usage('addoper'), 'no address');
assert(usage('addoper', '43.130', 'fastest'), 'unknown policy');
assert(usage('addoper', 43.130), 'a number with a fraction is not a host');
assert(usage('addoper', 300), 'host above 255');
assert(usage('addoper', NaN), 'NaN');
assert(usage('addoper', '1.2.3.4.5'), 'five numbers');
assert(usage('addoper', '43.300'), 'number above 255');
assert(usage('addoper', '130', 'wired-only', -1), 'negative timeout');
assert(usage('addoper', '130', 'wired-only', Inf), 'infinite timeout');

% The first operator (130): query, start, pause, resume, stop.
t = kestmex('trial');
expect_equal(fieldnames(t)', {'status', 'filebase', 'auto_incr', 'stop_time', 'incr_num', ...
                              'error_msg'}, 'trial fields');
expect_equal(t.status, 'stopped', 'query');
expect_equal(t.filebase, 'trial', 'file base');
t = kestmex('trial', 'recording');
assert(any(strcmp(t.status, {'start requested', 'recording'})), t.status);
wait_oper_status('130', 2);
expect_equal(kestmex('trial', '130').status, 'recording', 'recording');
t = kestmex('trial', 'paused');
assert(any(strcmp(t.status, {'pause requested', 'paused'})), t.status);
wait_oper_status('130', 3);
expect_equal(kestmex('trial', 'recording').status, 'paused', 'only a stopped trial starts');
t = kestmex('trial', 'paused');
assert(any(strcmp(t.status, {'unpause requested', 'recording'})), t.status);
wait_oper_status('130', 2);
t = kestmex('trial', 'stopped');
assert(any(strcmp(t.status, {'stop requested', 'stopped'})), t.status);
wait_oper_status('130', 1);

% File base, stop time, auto increment and increment number, on operator 131.
t = kestmex('trial', [], 'run-b', 1000, 1, 5, '131');
expect_equal({t.filebase, t.stop_time, t.auto_incr, t.incr_num}, {'run-b', 1000, 1, 5}, ...
             'settings');
t = kestmex('trial', [], [], -1, [], [], '131');
expect_equal(t.stop_time, 4294967295, '-1 shows unsigned');
expect_equal(t.incr_num, 5, 'kept');
expect_equal(kestmex('trial', [], [], [], [], [], 131).filebase, 'run-b', 'by number');
expect_equal(kestmex('trial', '130').filebase, 'trial', 'the other operator kept its own');

% The wireless operator by two numbers; one reporting an error text.
expect_equal(kestmex('trial', [parts{3} '.132']).status, 'stopped', 'wireless operator');
paxctl('oper-error 131 disk full');
expect_equal(kestmex('trial', '131').error_msg, 'disk full', 'error text');
% A failure with the operator's longest error text: the message is built whole.
long_text = repmat('e', 1, 255);
paxctl(['oper-error 131 ' long_text]);
paxctl('trial-status 131 9');
try
  kestmex('trial', '131');
  error('an invalid status was reported as success');
catch err
  expect_equal(err.identifier, 'kestmex:Trial', 'identifier');
  expect_equal(regexprep(err.message, '^kestmex: ', ''), ['trial status invalid: ' long_text], ...
               'message');
end
paxctl('trial-status 131 1');
paxctl('oper-error 131 ');

% Bad input fails before anything is sent.
expect_error('trial status invalid', 'trial', 'start');
expect_error('invalid operator or status', 'trial', 300);
expect_error('invalid operator or status', 'trial', 43.13);
expect_error('Unable to determine operator addreess', 'trial', [], [], [], [], [], '300');
expect_error('invalid stop_time: a number from -2147483648 to 4294967295', ...
             'trial', [], [], NaN);
expect_error('invalid file path base', 'trial', [], repmat('y', 1, 512));
expect_error('operator not found', 'trial', '140');

% An operator that stops answering, and one that drops its connection.
paxctl('oper-silent 131 on');
expect_error('no response', 'trial', '131');
paxctl('oper-silent 131 off');
expect_equal(kestmex('trial', '131').status, 'stopped', 'answers again');
paxctl('oper-drop 130');
expect_error('operator not found', 'trial', '130');
expect_equal(kestmex('addoper', '130'), eid([wired '.130']), 'added again');
expect_equal(kestmex('trial', '130').status, 'stopped', 'answers after a new addoper');
kestmex('close');
