% The commands that need no connection, the checks of the inputs, and that none of them
% opens a connection: afterwards the first connection-needing call still opens (and returns
% a logical instead of running its command).

% "help": the usage line, one line per command, the closing lines.
out = evalc('kestmex(''help'')');
lines = strsplit(out, "\n", "CollapseDelimiters", false);
expect_equal(lines{1}, 'usage: kestmex(cmdstr [, args])', 'first help line');
expect_equal(lines{2}, "\t'time' - display latest PAX time", 'second help line');
expect_equal(lines{29}, "\t'version' - get software versions", 'last command line');
expect_equal(lines{30}, '', 'blank line after the commands');
expect_equal(lines{31}, "\tFor more info, type command strings without arguments", 'hint');
expect_equal(lines{32}, "\t(kestmex 1.7.8)", 'version line');
assert(numel(strfind(out, "\t'")) == 28, 'help lists 28 commands');
assert(~isempty(strfind(out, "\t'close' - close UDP socket and delete cached data\n")));

% "processor": the usage unless a known word follows.
usage = evalc('kestmex(''processor'')');
assert(strncmp(usage, 'usage kestmex("processor", <options>, ...)', 42), usage);
assert(~isempty(strfind(usage, '"restart": restart processor software')), usage);
expect_equal(evalc('kestmex(''processor'', ''nonsense'')'), usage, 'processor with unknown word');
expect_equal(evalc('kestmex(''processor'', 5)'), usage, 'processor with a number');
expect_error('unable to parse string argument', 'processor', repmat('x', 1, 512));

% "processor-status": the probe finds the emulated processor on the wired network.
expect_equal(kestmex('processor-status'), 1, 'processor-status');
expect_equal(kestmex('processor', 'status'), 1, 'processor status');
found = 0;
out = evalc('found = kestmex(''processor-status'', ''wired-only'', ''timeout'', 200, ''tcp'');');
expect_equal(found, 1, 'wired-only probe');
expect_equal(out, "connection policy wired-only\n", 'policy line');
out = evalc('found = kestmex(''processor-status'', ''wireless-only'', ''timeout'', 100.9);');
expect_equal(found, 0, 'wireless-only probe: nothing listens on the wireless network');
expect_equal(out, "connection policy wireless-only\n", 'wireless policy line');

% Option errors and the usage.
expect_error('invalid argument for timeout', 'processor-status', 'timeout');
expect_error('invalid argument for timeout', 'processor-status', 'timeout', 'help');
expect_error('invalid argument for timeout', 'processor-status', 'timeout', -1);
expect_error('invalid argument for timeout', 'processor-status', 'timeout', NaN);
expect_error('invalid argument for timeout', 'processor-status', 'timeout', [1 2]);
expect_error('cannot use udp mode', 'processor-status', 'udp');
expect_error('startup options must all be of type char', 'processor-status', 5);
expect_error('invalid startup option', 'processor-status', repmat('y', 1, 256));
clear result;
out = evalc('kestmex(''processor-status'', ''help'')');
assert(strncmp(out, 'usage kestmex("processor-status", <options>, ...)', 48), out);
assert(~isempty(strfind(out, "This function returns 1 if processor is detected and a 0 otherwise\n")));
lastwarn('');
out2 = evalc('kestmex(''processor-status'', ''bogus'')');
% evalc also captures the warning's line ahead of the usage.
assert(numel(out2) > numel(out) && strcmp(out2(end - numel(out) + 1:end), out), out2);
expect_equal(strtrim(lastwarn()), 'unexpected option: bogus', 'unknown word warning');
% The usage ends the call without an output.
try
  result = kestmex('processor-status', 'help'); %#ok<NASGU>
  error('processor-status with help returned a value');
catch err
  assert(isempty(strfind(err.message, 'returned a value')), err.message);
end

% Input checks, before anything else and without a connection.
expect_error('all numeric inputs must be doubles', 'time', int32(1));
expect_error('all numeric inputs must be doubles', int32(1));
expect_error('all numeric inputs must be doubles', 'time', single(1));
expect_error('convert logical inputs to double', 'time', true);
expect_error('kestmex inputs must be of types char, double, or struct', 'time', {1});
expect_error('kestmex inputs must be of types char, double, or struct', {'time'});
expect_error('usage: kestmex(<command>, <args>)', 5);
expect_error('usage: kestmex(<command>, <args>)', struct('a', 1));
expect_error('usage: kestmex(<command>, <args>)', repmat('t', 1, 32));
expect_error('usage: kestmex(<command>, <args>)', repmat('t', 1, 200));

% Nothing above opened a connection: this call opens one and does not run "time".
opened = kestmex('time');
expect_equal(opened, true, 'first call after the connectionless commands');

% With the connection: a 31-character name is read and looked up; case matters.
expect_error(['kestmex command string ''' repmat('t', 1, 31) ''' not recognized'], repmat('t', 1, 31));
expect_error('kestmex command string ''Time'' not recognized', 'Time');
expect_error('kestmex command string ''TIME'' not recognized', 'TIME');
expect_error('kestmex command string ''close '' not recognized', 'close ');
% The input checks hold with a connection as well; a struct argument passes them.
expect_error('convert logical inputs to double', 'time', false);
expect_error('kestmex inputs must be of types char, double, or struct', 'time', {});
t = kestmex('time', struct('x', 1), [1 2 3]);
assert(isa(t, 'double') && isscalar(t) && t > 0, 'time with extra struct and double inputs');
kestmex('close');
