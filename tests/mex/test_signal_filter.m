% Stream switches, file-save selections and filters from Octave: listing, reading and setting
% streams and the digital input switch, the processor's file-save selection and the refusals
% without an operator, filter choices, a confirmed selection and a custom filter upload.
expect_equal(kestmex(), true, 'open');

% --- "signal": usage and electrodes.
usage = 'usage: kestmex(''signal'', elec, [stream, [value (0|1))] ])';
expect_error(usage, 'signal');
expect_error(usage, 'signal', zeros(1, 0));
expect_error('electrode 600 not present', 'signal', 600);
expect_error('invalid electrode string: dig', 'signal', 'dig');
expect_error('invalid stream ''nope''', 'signal', 1, 'nope');
try
  kestmex('signal', [1 600]);
  error('no error for an unknown electrode');
catch err
  expect_equal(err.identifier, 'signal', 'identifier of the signal errors');
end

streams = kestmex('signal', 1);
assert(iscell(streams) && all(ismember({'raw', 'lfp', 'spk', 'stim'}, streams)), 'streams');
both = kestmex('signal', [1 40]);
expect_equal(size(both), [1 2], 'one list per electrode');
assert(~any(strcmp(both{2}, 'stim')), 'the recording front end has no stim stream');

% Continuous streams: one value switches the whole front end; 0.5 counts as on.
expect_equal(kestmex('signal', [1 2 40], 'lfp'), int32([1 1 1]), 'lfp on at start');
kestmex('signal', [1 2 3], 'lfp', 0);
expect_equal(kestmex('signal', [1 32 40], 'lfp'), int32([0 0 1]), 'front end 1 switched off');
kestmex('signal', 5, 'lfp', 0.5);
expect_equal(kestmex('signal', 1, 'lfp'), int32(1), 'a fraction switches on');
expect_error('value for continuous stream must be a single number', 'signal', 1, 'lfp', [1 0]);
expect_error('value for continuous stream must be a single number', 'signal', 1, 'hi-res', ...
             [1 0]);

% Per-channel streams: one value each, or one for all.
kestmex('signal', [1 2], 'spk', [0 1]);
expect_equal(kestmex('signal', [1 2 3], 'spk'), int32([0 1 1]), 'one switch per electrode');
kestmex('signal', [1 2], 'spk', 1);
expect_equal(kestmex('signal', [1 2], 'spk'), int32([1 1]), 'one value for all');
expect_error('values and electrodes arrays must be the same size', 'signal', [1 2], 'spk', ...
             [1 0 1]);

% The digital input switch.
expect_equal(kestmex('signal', 'digin'), int32(1), 'digital input on at start');
kestmex('signal', 'digin', 0);
expect_equal(kestmex('signal', 'digin'), int32(0), 'switched off');
kestmex('signal', 'digin', 1);
expect_equal(kestmex('signal', 'digin'), int32(1), 'switched on');

% --- "signal-save" on the processor: set, then read once the echo is in.
expect_equal(kestmex('signal-save', 1), kestmex('signal', 1), 'the same list of streams');
expect_equal(kestmex('signal-save', [1 2 40], 'raw', 'processor'), int32([0 0 0]), 'none saved');
kestmex('signal-save', [1 40], 'raw', 1, 'processor');
saved = int32([0 0]);
for k = 1:200
  saved = kestmex('signal-save', [1 40], 'raw', 'processor');
  if isequal(saved, int32([1 1]))
    break;
  end
  pause(0.01);
end
expect_equal(saved, int32([1 1]), 'saved after the echo');
expect_equal(kestmex('signal-save', 2, 'raw', 'processor'), int32(0), 'other channels unchanged');
expect_error('cannot save stream ''spkfilt'' for electrode(s)', 'signal-save', 1, 'spkfilt', 1, ...
             'processor');
expect_error('stream ''stim'' invalid for electrode(s)', 'signal-save', 40, 'stim', 'processor');
expect_error('electrode and value arrays must be the same size', 'signal-save', [1 2 3], 'raw', ...
             [1 0], 'processor');

% Operators are reached over the stream link only, and one must be connected.
expect_error('invalid network', 'signal-save', 1, 'raw');
try
  kestmex('signal-save', 1, 'raw', 1);
  error('no error without an operator');
catch err
  expect_equal(err.identifier, 'kestmex:SignalSave', 'identifier of the signal-save errors');
end
kestmex('close');
expect_equal(kestmex('tcp'), true, 'open over TCP');
expect_error('operator not found', 'signal-save', 1, 'raw');
expect_error('operator not found', 'signal-save', 1, 'raw', '150');

% --- "filter".
expect_error('usage: kestmex(''filter'', cmd (''list'', ''set'', ''custom'')', 'filter');
expect_error('filter string must be ''set'', ''list'', or ''custom''', 'filter', 'show');
expect_error('usage: kestmex(''filter'', ''list'', elec, [filter type [, select] ])', ...
             'filter', 'list');
expect_error('usage: kestmex(''filter'', ''list'', elec, [filter type [, select] ])', ...
             'filter', 'list', zeros(1, 0));
expect_error('electrode 600 not present', 'filter', 'list', 600);
expect_equal(kestmex('filter', 'list', 40), {'emg', 'hi-res', 'hifreq', 'lfp', 'spike'}, 'names');
expect_error('Invalid filter.', 'filter', 'list', 40, 'notch');
expect_error('Invalid selection', 'filter', 'list', 40, 'lfp', 0);

[selection, choices] = kestmex('filter', 'list', 40, 'spike');
expect_equal(selection, 2, 'current choice, 1-based');
expect_equal(size(choices), [4 1], 'one description per choice');
expect_equal(fieldnames(choices)', {'label', 'lowCutoff', 'highCutoff', 'center', ...
             'centerOrder', 'centerFlags', 'lowOrder', 'lowFlags', 'highOrder', 'highFlags', ...
             'maxStages', 'numStages', 'sos'}, 'fields in order');
expect_equal(choices(3).label, '300 Hz-7.5 kHz', 'label');
expect_equal(choices(3).highCutoff, 7500, 'high cutoff');
expect_equal(choices(3).sos, repmat([1 0 1 1 0 0], 3, 1), 'one row per stage');
[selection, one] = kestmex('filter', 'list', 40, 'spike', 3);
expect_equal(size(one), [1 1], 'the chosen one');
expect_equal(one.label, '300 Hz-7.5 kHz', 'its label');
expect_equal(kestmex('filter', 'list', 40, 'spike'), 2, 'one output when one is asked for');

expect_error('usage: kestmex(''filter'', ''set'', elec, filter type, select)', 'filter', 'set', 40);
expect_error('Invalid filter selection.', 'filter', 'set', 40, 'lfp', 5);
kestmex('filter', 'set', 40, 'lfp', 3);
expect_equal(kestmex('filter', 'list', 40, 'lfp'), 3, 'selection confirmed');
expect_equal(kestmex('filter', 'list', 1, 'lfp'), 2, 'other front ends keep theirs');

% A custom filter of two stages: columns 1, 2, 5 and 6 of each row are sent.
sos = struct('label', 'notch', 'center', 60, 'lowCutoff', 58, 'highCutoff', 62, ...
             'centerOrder', 4, 'lowOrder', 2, 'highOrder', 2, 'numStages', 2, ...
             'sos', [0.5 0.25 0.5 1 -0.75 0.125; 2 -1 2 1 0.375 -0.0625]);
expect_error('usage: kestmex(''filter'', ''custom'', elec, filter type, sos_struct)', ...
             'filter', 'custom', 40, 'lfp');
expect_error('invalid sos struct', 'filter', 'custom', 40, 'lfp', 5);
expect_error('invalid sos struct: label', 'filter', 'custom', 40, 'lfp', rmfield(sos, 'label'));
expect_error('invalid sos struct: sos', 'filter', 'custom', 40, 'lfp', rmfield(sos, 'sos'));
bad = sos; bad.numStages = 3;
expect_error('invalid sos struct: sos', 'filter', 'custom', 40, 'lfp', bad);
bad.numStages = 9;
expect_error('invalid sos struct: numStages', 'filter', 'custom', 40, 'lfp', bad);
bad = sos; bad.sos = sos.sos(:, 1:5);
expect_error('invalid sos struct: sos', 'filter', 'custom', 40, 'lfp', bad);
bad = sos; bad.lowOrder = 256;
expect_error('invalid sos struct: lowOrder', 'filter', 'custom', 40, 'lfp', bad);
expect_error('Invalid filter.', 'filter', 'custom', 40, 'notch', sos);

kestmex('filter', 'custom', 40, 'lfp', sos);
custom = struct('numStages', 0);
for k = 1:200
  [~, custom] = kestmex('filter', 'list', 40, 'lfp', 4);
  if custom.numStages == 2
    break;
  end
  pause(0.01);
end
expect_equal(custom.label, 'notch', 'uploaded label');
expect_equal([custom.center custom.lowCutoff custom.highCutoff], [60 58 62], 'frequencies');
expect_equal([custom.centerOrder custom.lowOrder custom.highOrder], [4 2 2], 'orders');
expect_equal(custom.maxStages, 6, 'announced room');
expect_equal(custom.sos, [0.5 0.25 0.5 1 -0.75 0.125; 2 -1 2 1 0.375 -0.0625], 'sections');
