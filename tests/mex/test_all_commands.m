% Every command word once, with valid arguments, each shown to reach the processor or its data:
% a value read back, a record the emulated processor stores, a count it keeps. The family tests
% check each command in depth; this one shows that none of the 35 words is left without real
% behaviour. Over TCP, for the operator commands (paxsim runs operator 130).
% The opening call gives up after fixed waits; on a machine busy enough to miss them, try again.
wait_until(@() kestmex('tcp'), 'open', 60);
wired = getenv('KEST_WIRED_NET');

% --- Without a connection as well: help, version, the processor probe.
out = evalc('kestmex(''help'')');
assert(~isempty(strfind(out, "\t'audio-tone' - set and receive audio tone")), out);
v = kestmex('version');
assert(strcmp(v.kestmex, '1.7.8') && ~strcmp(v.paxexec, 'UNKNOWN'), 'version');
expect_equal(kestmex('processor-status'), 1, 'processor-status finds the processor');
expect_equal(kestmex('processor', 'status'), 1, 'processor status finds the processor');

% --- Data.
t = kestmex('time');
wait_until(@() kestmex('time') > t + 6000, 'time advances'); % and 200 ms of data are in
expect_equal(kestmex('elec', 'EMG'), 65:96, 'elec lists the EMG front end');
wait_count(@() kestmex('spike', 1), 1, 'spike counts segments');
kestmex('spike-thresh', 2, -77, 333);
wait_until(@() isequal(nthargout(1:2, @kestmex, 'spike-thresh', 2), {-77, 333}), 'thresholds');
[data, start] = kestmex('cont', 3, 100, 'raw');
check_samples(data, 3, 0, start, 1, 'cont');
[data, start] = kestmex('cont-adc', 33, 100, 'lfp');
check_samples(data, 33, 2, start, 30, 'cont-adc');
paxctl('digital-rate 0');
kestmex('digin');
paxctl('digin 4660');
wait_count(@() any([nthargout(3, @kestmex, 'digin').parallel] == 4660), 1, 'digin event');
kestmex('digout', 5, 4660);
wait_until(@() ~isempty(regexpi(paxctl('digout'), '1234$', 'once')), 'digout word received');

% --- Signals and filters.
kestmex('signal', 65, 'lfp', 0);
expect_equal(kestmex('signal', 65, 'lfp'), int32(0), 'signal switched off');
kestmex('signal-save', 5, 'raw', 1, 'processor');
wait_until(@() kestmex('signal-save', 5, 'raw', 'processor') == 1, 'signal-save');
kestmex('filter', 'set', 40, 'spike', 3);
expect_equal(kestmex('filter', 'list', 40, 'spike'), 3, 'filter selection');

% --- Stimulation: a train played whole, then three cycles of a sequence.
kestmex('stimdata', 1);
kestmex('stim', 'Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10');
wait_until(@() kestmex('stim', 'enable') == 0, 'stim train over');
expect_equal(kestmex('stimdata', 1), 10, 'stimdata holds every pulse of the train');
s = struct('elec', 1, 'period', 14, 'repeats', 3, 'action', 'immed');
s.seq = struct('length', 6, 'pol', 0, 'ampl', 10, 'enable', 1, 'ampSelect', 1, 'fs', 0, 'delay', 0);
kestmex('stimseq', s);
wait_count(@() kestmex('stimdata', 1), 3, 'stimseq cycles played');
kestmex('stim', 'enable', 0);

% --- Front-end settings.
kestmex('fastsettle', 'digin', 40, 4);
expect_equal(kestmex('fastsettle', 'digin', 40), 4, 'fastsettle source');
kestmex('adc2phys', 1, 2);
expect_equal(kestmex('adc2phys', 1), 2, 'adc2phys selection');
kestmex('lowcorner', 1, 4);
expect_equal(kestmex('lowcorner', 1), 4, 'lowcorner selection');
kestmex('ground', 6, 1);
wait_until(@() pax_record(1, 'Channel Ground Enable Descriptor Block', 5)(5) == 1, 'ground');
kestmex('reference', 35, 1);
wait_until(@() pax_record(3, 'Channel Reference Enable Descriptor Block', 2)(5) == 1, ...
           'reference');
expect_equal(kestmex('impedance', [33 34]), [50100 51100], 'impedance of front end 2');

% --- Operators.
expect_equal(kestmex('addoper', '130'), uint32(sum(sscanf([wired '.130'], '%d.%d.%d.%d')' .* ...
                                                   256 .^ (0:3))), 'addoper');
kestmex('trial', 'recording');
wait_until(@() strcmp(kestmex('trial').status, 'recording'), 'trial recording');
kestmex('trial', 'stopped');

% --- Peripherals.
% "connected" waits 1 s for the transceiver's answer and reads 0 without one.
wait_until(@() kestmex('transceiver', 'connected', 97) == 1, 'transceiver implant connected');
expect_equal(kestmex('battery'), 87, 'battery');
expect_equal(kestmex('sensor', 'external-battery'), 64, 'sensor');
kestmex('button', 'f2');
paxctl('button f2');
expect_equal(wait_count(@() kestmex('button', 'f2'), 1, 'button press'), 1, 'button press');
kestmex('led', 'set', 'f2', 1);
expect_equal(kestmex('led', 'f2'), 1, 'led set');
kestmex('audio-tone', 1000, 250);
wait_until(@() isequal(pax_record(0, 'Audio Tone', 0)(5:8), [232 3 250 0]), 'audio tone');

% --- Ending: a processor restart, then close; each makes the next call open anew.
restarts = @() str2double(regexp(paxctl('stats'), 'restarts=(\d+)', 'tokens', 'once'));
before = restarts();
expect_equal(kestmex('processor-restart'), 1, 'processor-restart');
wait_until(@() restarts() == before + 1, 'restart seen by the processor');
wait_until(@() kestmex('tcp') == true, 'reopened after the restart', 30);
kestmex('close');
expect_equal(kestmex('time'), true, 'close: the next call opens instead of reading the time');
kestmex('close');

% Every word of the command table and of the entry is called above.
words = {'time', 'elec', 'stim', 'digin', 'spike', 'stimdata', 'spike-thresh', 'cont', ...
         'cont-adc', 'stimseq', 'trial', 'signal', 'signal-save', 'filter', 'digout', 'help', ...
         'fastsettle', 'adc2phys', 'lowcorner', 'addoper', 'impedance', 'ground', ...
         'reference', 'transceiver', 'battery', 'sensor', 'button', 'led', 'audio-tone', ...
         'processor-restart', 'version', 'processor-status', 'processor', 'close'};
assert(numel(unique(words)) == 34, 'the table''s 31 words and processor-status, processor, close');
here = fileread([mfilename('fullpath') '.m']);
for k = 1:numel(words)
  called = ['(kestmex\(|@kestmex, )''+' regexptranslate('escape', words{k}) ''''];
  assert(~isempty(regexp(here, called, 'once')), ['not called: ' words{k}]);
end
