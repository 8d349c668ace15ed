% "version" and restarting the processor software.
expect_equal(kestmex(), true, 'open');

v = kestmex('version');
assert(isstruct(v) && isscalar(v), 'version is a 1x1 struct');
expect_equal(fieldnames(v)', {'paxexec', 'kest', 'kestlib', 'kestmex'}, 'version fields');
assert(ischar(v.paxexec) && ~isempty(v.paxexec) && ~strcmp(v.paxexec, 'UNKNOWN'), v.paxexec);
expect_equal(v.kest, '0.9', 'protocol version');
assert(~isempty(regexp(v.kestlib, '^0\.9\.2\+106.$', 'once')), v.kestlib);
expect_equal(v.kestmex, '1.7.8', 'module version');

% Usage when anything follows the word.
out = evalc('kestmex(''processor-restart'', ''now'')');
assert(strncmp(out, 'usage kestmex("processor", "restart")', 37), out);
out = evalc('kestmex(''processor'', ''restart'', 1)');
assert(strncmp(out, 'usage kestmex("processor", "restart")', 37), out);

% The restart is sent, the connection ends, the next call opens again.
before = str2double(regexp(paxctl('stats'), 'restarts=(\d+)', 'tokens', 'once'));
expect_equal(kestmex('processor-restart'), 1, 'processor-restart');
wait_restarted(before + 1);
after = str2double(regexp(paxctl('stats'), 'restarts=(\d+)', 'tokens', 'once'));
expect_equal(after, before + 1, 'restarts seen by the processor');
expect_equal(kestmex('time'), true, 'next call opens again');

% The same through "processor".
expect_equal(kestmex('processor', 'restart'), 1, 'processor restart');
wait_restarted(before + 2);
expect_equal(kestmex(), true, 'reopened after processor restart');

% Without a connection a restart cannot be sent: "processor" never opens one.
kestmex('close');
expect_error('library not initialized', 'processor', 'restart');
expect_equal(kestmex('time'), true, 'processor restart did not open a connection');
kestmex('close');
