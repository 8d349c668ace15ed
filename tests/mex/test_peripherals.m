% Peripheral commands against the emulated processor: batteries and power sensors, button
% counts after emulated presses, LEDs, the audio tone and the implant transceiver of front
% end 4 (electrodes 97-128), with their usage and error texts. Over TCP: a button press in a
% datagram dropped on a busy machine would fail the test for no fault of the commands.
expect_equal(kestmex('tcp'), true, 'open');

% --- Batteries and sensors.
expect_equal(kestmex('battery'), 87, 'internal battery');
expect_equal(kestmex('battery', 'ignored'), 87, 'further arguments are ignored');
expect_equal(kestmex('sensor', 'battery'), 87, 'sensor battery');
expect_equal(kestmex('sensor', 'external-battery'), 64, 'external battery');
expect_equal(kestmex('sensor', 'detect-external-battery'), 1, 'external battery detected');
expect_equal(kestmex('sensor', 'wall'), double(single(0.42)), 'wall current');
[c, v] = kestmex('sensor', 'wall');
expect_equal([c v], double(single([0.42 12])), 'wall current and voltage');
[c, v, p] = kestmex('sensor', 'vdd', 'all');
expect_equal([c v p], double(single([0.8 3.3 2.64])), 'vdd, all readings');
expect_equal(kestmex('sensor', 'vdd', 'voltage'), double(single(3.3)), 'vdd voltage');
expect_equal(kestmex('sensor', 'wall', 'power'), double(single(5.04)), 'wall power');
sensor_usage = sprintf(['usage: kestmex(''sensor'', SENSOR_NAME, options)\n' ...
                        ' where SENSOR_NAME is one of ''battery'',\n' ...
                        '                             ''external-battery'',\n' ...
                        '                             ''detect-external-battery'',\n' ...
                        '                             ''wall'',\n' ...
                        '                             ''VDD''\n']);
expect_error(sensor_usage, 'sensor', 'VDD');
expect_error(sensor_usage, 'sensor');
expect_error(sensor_usage, 'sensor', 5);
wall_help = sprintf(['kestmex( ... ''wall'', subcommand)\nsubcommand must be one of ' ...
                     '''current'' ''voltage'' ''power'' ''all'' or ''help''\n']);
expect_error(wall_help, 'sensor', 'wall', 'amps');
expect_error(wall_help, 'sensor', 'wall', 'all', 'all');
expect_error(wall_help, 'sensor', 'wall', 3);
expect_error(strrep(wall_help, 'wall', 'vdd'), 'sensor', 'vdd', 'watts');
try
  [c, p] = kestmex('sensor', 'wall', 'power');
  error('two outputs of a single reading were accepted');
catch err
  expect_equal(strtrim(regexprep(err.message, '^kestmex: ', '')), strtrim(wall_help), ...
               'two outputs of one reading');
end
out = evalc('kestmex(''sensor'', ''wall'', ''help'')');
assert(~isempty(strfind(out, 'subcommand must be one of')), 'help is printed');

% --- Buttons: presses on the emulated panel, counted since the previous query.
paxctl('button event');
paxctl('button event');
paxctl('button f1');
event = 0;
f1 = 0;
for k = 1:150
  event = event + kestmex('button', 'event');
  f1 = f1 + kestmex('button', 'f1');
  if event == 2 && f1 == 1
    break;
  end
  pause(0.02);
end
expect_equal([event f1], [2 1], 'presses counted');
expect_equal(kestmex('button', 'event'), 0, 'the query reset the count');
expect_equal(kestmex('button', 'stop_stim'), 0, 'no press');
kestmex('button', 'watch', 'f2', 1);
kestmex('button', 'watch', 'f2', 0);
button_usage = sprintf(['usage: kestmex(''button'', BUTTON_NAME)\n or kestmex(''button'', ' ...
                        '''watch'', BUTTON_NAME, value)\n where BUTTON_NAME is one of ' ...
                        '''stop_stim'', ''event'', ''f1'', or ''f2''\n ']);
expect_error(button_usage, 'button');
expect_error(button_usage, 'button', 3);
expect_error(button_usage, 'button', 'watch', 'f1');
expect_error(button_usage, 'button', 'watch', 2, 1);
expect_error('invalid button ''f3''', 'button', 'f3');
expect_error('invalid button ''F1''', 'button', 'watch', 'F1', 1);
long_name = repmat('x', 1, 400);
expect_error(sprintf('invalid button ''%s''', long_name), 'button', long_name);
expect_error('value must be a finite number', 'button', 'watch', 'f1', NaN);

% --- LEDs.
expect_equal(kestmex('led', 'f1'), 0, 'LED off at start');
kestmex('led', 'set', 'f1', 5);
expect_equal(kestmex('led', 'f1'), 1, 'LED set');
kestmex('led', 'set', 'f1', 0);
expect_equal(kestmex('led', 'f1'), 0, 'LED cleared');
kestmex('led', 'watch', 'event', 1);
led_usage = sprintf(['usage: kestmex(''led'', LED_NAME)\nor kestmex(''led'', ''set'', ' ...
                     'LED_NAME, value)\nor kestmex(''led'', ''watch'', LED_NAME, value)\n' ...
                     'where LED_NAME is one of ''event'', ''f1'', or ''f2''\n ']);
expect_error(led_usage, 'led');
expect_error(led_usage, 'led', 'set', 'f1');
expect_error(led_usage, 'led', 'watch', 4, 1);
expect_error('invalid LED ''f3''', 'led', 'set', 'f3', 1);
expect_error('invalid LED ''stop_stim''', 'led', 'stop_stim');
expect_error(sprintf('invalid LED ''%s''', long_name), 'led', long_name);
expect_error('value must be a finite number', 'led', 'set', 'f2', Inf);
paxctl('echo drop');
expect_error('unable to set LED', 'led', 'set', 'f2', 1);
paxctl('echo normal');

% --- Audio tone: set (no output); values that do not fit 16 bits are refused.
kestmex('audio-tone', 1000.7, 250);
tone_usage = sprintf('usage: kestmex(''audio-tone'', freqHz, durationMs)\n');
expect_error(tone_usage, 'audio-tone');
expect_error(tone_usage, 'audio-tone', 1000);
expect_error(tone_usage, 'audio-tone', 'a', 10);
for bad = {{70000, 10}, {440, 65536}, {-1, 10}, {NaN, 10}, {440, Inf}}
  expect_error('error trying to set audio tone', 'audio-tone', bad{1}{:});
end

% --- Transceiver.
out = evalc('kestmex(''transceiver'', ''foo'')');
expect_equal(out, sprintf('Transceiver\n'), 'an unknown sub-command prints the title only');
usage = sprintf(['usage: kestmex(''transceiver'', COMMAND, [args]...)\n' ...
                 '       COMMAND can be one of ''enable'', ''status'', or ''command''\n']);
expect_error(usage, 'transceiver');
expect_error(usage, 'transceiver', 0);
expect_equal(kestmex('transceiver', 'enable', 97), 1, 'enable');
expect_equal(kestmex('transceiver', 100, 0), 1, 'numeric form with a flag');
expect_equal(kestmex('transceiver', 128), 1, 'numeric form');
expect_equal(kestmex('transceiver', 'enable', 33), 0, 'not a transceiver');
expect_error('electrode index out of range', 'transceiver', 'enable', 513);
expect_error(sprintf(['usage: kestmex(''transceiver'', ''enable'', electrode index [1-512],\n' ...
                      '      enable_flag [1 enable or 0 disable])']), ...
             'transceiver', 'enable', 97, 1, 2);
expect_equal(kestmex('transceiver', 'connected', 97), 1, 'implant connected');
expect_equal(kestmex('transceiver', 'connected', 1), 0, 'a stimulating front end');
expect_error('usage: kestmex(''transceiver'', ''connected'', electrode index [1-512])', ...
             'transceiver', 'connected');
status = kestmex('transceiver', 'status', 110);
expect_equal(size(status), [32 1], 'status words');
expect_equal(status(1:3), uint16([1; hex2dec('5101'); hex2dec('5102')]), 'implant status');
expect_error('elec index out of range', 'transceiver', 'status', 0);
expect_error('Unable to get transcever status', 'transceiver', 'status', 33);
out = evalc('r = kestmex(''transceiver'', ''command'', 97, 4660, [7 8 9]);');
expect_equal(r, 1, 'command sent');
expect_equal(out, sprintf('Transceiver\n0. command\n1. 97\n2. 4660\n3. 7\n'), 'arguments echoed');
expect_equal(kestmex('transceiver', 'command', 97, 5, []), 1, 'a command without data');
expect_error('data format of command word incorrect in conversion', ...
             'transceiver', 'command', 3, 70000, []);
expect_error('data format of command word incorrect in conversion', ...
             'transceiver', 'command', 97, 1.5, []);
expect_error('too much data supplied', 'transceiver', 'command', 97, 1, 1:33);
expect_error('data format incorrect', 'transceiver', 'command', 97, 1, [1; 2]);
expect_error('data format incorrect in conversion', 'transceiver', 'command', 97, 1, [1 2.5]);
expect_error('data format incorrect in conversion', 'transceiver', 'command', 97, 1, 65536);
expect_error('conversion from data type is not yet implemented', ...
             'transceiver', 'command', 97, 1, 'ab');
expect_error('electrode index out of range', 'transceiver', 'command', 0, 1, []);
expect_error('command failed', 'transceiver', 'command', 33, 1, []);
expect_error(sprintf(['usage: kestmex(''transceiver'', ''command'', electrode index, ' ...
                      'command, [data])\n       electrode index is 1-512\n' ...
                      '       command is the command register word\n' ...
                      '       data are the command data\n']), 'transceiver', 'command', 97, 1);
% A transceiver that never answers is not connected, after a bounded wait.
paxctl('transceiver never');
expect_equal(kestmex('transceiver', 'connected', 97), 0, 'no answer');
paxctl('transceiver normal');
expect_equal(kestmex('transceiver', 'connected', 97), 1, 'answers again');
