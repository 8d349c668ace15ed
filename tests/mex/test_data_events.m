% Event data: spike and stimulation segments with their counts, units and scaled waveforms,
% the lost-packet warning and its switch, digital input events and their capture switch,
% spike thresholds and electrode lists.
expect_equal(kestmex(), true, 'open');

% --- Electrode lists.
every = kestmex('elec', 'all');
expect_equal(every(1:128), 1:128, 'front-end electrodes, 1-based');
expect_equal(every(129:end), 10241:10256, 'analog inputs, 1-based');
rec = kestmex('elec', 'rec A2');
expect_equal(rec, 33:64, 'one front end by its label');
expect_equal(kestmex('elec', 'EMG'), 65:96, 'one kind of front end');
expect_equal(kestmex('elec', 'no such front end'), zeros(1, 0), 'no match');
expect_error('usage: kestmex(''elec'', <headstage string>)', 'elec');
expect_error('invalid headstage string', 'elec', 5);

% --- Spikes at 200 per second and channel, then none: counts empty the rings.
spikes_for(200, 30000);
counts = kestmex('spike', [1 2 40]);
expect_equal(size(counts), [3 1], 'count form');
assert(all(counts > 50), 'spikes arrived');
expect_equal(kestmex('spike', [1 2 40]), zeros(3, 1), 'the count form emptied the rings');

% The full form: times, unit numbers and waveforms scaled by the conversion factor.
spikes_for(200, 30000);
now = double(kestmex('time'));
[counts, times, wfs, units] = kestmex('spike', [1 40]);
expect_equal(size(times), [2 1], 'times cell');
electrodes = [1 40];
for k = 1:2
  t = times{k};
  m = numel(t);
  assert(m > 50 && m == counts(k), 'every spike returned');
  expect_equal(size(wfs{k}), [m 52], 'waveforms');
  expect_equal(size(units{k}), [1 m], 'units');
  assert(all(diff(t) > 0), 'oldest first');
  [train, trainUnits] = pax_spike_train(electrodes(k) - 1, 200, now);
  [found, index] = ismember(t, train);
  assert(all(found), 'spike times of the emulated train');
  expect_equal(units{k}, trainUnits(index), 'unit numbers');
  for j = 1:m
    expected = pax_waveform(units{k}(j)) * 0.25;
    expect_equal(wfs{k}(j, :), expected, 'waveform scaled to microvolts');
  end
end
[counts, times] = kestmex('spike', [1 40]);
expect_equal(counts, zeros(2, 1), 'the full form emptied the rings');
expect_equal(times{1}, zeros(1, 0), 'no times left');

% "stimdata" reads the stimulation rings; with a third input 0 the spike rings.
spikes_for(200, 15000);
expect_equal(kestmex('stimdata', 1), 0, 'no stimulation ran');
spikes = kestmex('stimdata', 1, 0);
assert(spikes > 20, 'stimdata with 0 gives spike counts');
expect_equal(kestmex('spike', 1), 0, 'and emptied the spike ring');

% More than 1024 spikes since the last read: the full count and the newest 1024.
kestmex('spike', 1);
spikes_for(2000, 90000); % three seconds: a busy link may pass over some of them
out = evalc('[counts, times, wfs] = kestmex(''spike'', 1);');
assert(counts > 1024, 'count beyond the ring');
expect_equal(size(wfs{1}), [1024 52], 'at most 1024 waveforms');
expect_equal(size(times{1}), [1 1024], 'at most 1024 times');

% Sequence gaps: one warning per electrode with the number of gaps.
kestmex('spike', [1 2]);
paxctl('seq-gap 7 3');
spikes_for(200, 30000);
paxctl('seq-gap 0');
out = evalc('[counts, times] = kestmex(''spike'', [1 2]);');
lost = regexp(out, 'Lost spike (\d+) packet on electrode (\d+)', 'tokens');
expect_equal(numel(lost), 2, 'a warning per electrode');
expect_equal(lost{1}{2}, '1', 'first electrode, 1-based');
expect_equal(lost{2}{2}, '2', 'second electrode, 1-based');
assert(str2double(lost{1}{1}) > 0, 'number of gaps');

% Electrodes without a hardware module.
try
  [c, t] = kestmex('spike', [1 500]);
  error('spike on electrode 500 returned');
catch err
  assert(~isempty(strfind(err.message, 'GetSegmentBlockCould not find electrode')), err.message);
end
expect_error('Invalid electrode specified.', 'spike', [1 500]);
expect_error('usage: [count, times, wfs] = kestmex(''spike'', elec [1-512])', 'spike');
expect_error('usage: [count, times, wfs] = kestmex(''stimdata'', elec [1-512])', 'stimdata', 1, 0, 0);

% --- Digital inputs: injected events, then nothing.
paxctl('digital-rate 0');
wait_for_time(processor_time(), 'the last digital events');
kestmex('digin');
paxctl('digin 4660');
paxctl('digin 17');
wait_for_time(processor_time(), 'the injected events');
[n, times, events] = kestmex('digin');
expect_equal(n, 2, 'two events');
expect_equal(size(times), [1 2], 'event times');
assert(times(2) >= times(1), 'oldest first');
expect_equal(fieldnames(events)', {'reason', 'sma1', 'sma2', 'sma3', 'sma4', 'parallel'}, 'fields');
expect_equal(events(1).parallel, uint16(4660), 'parallel value');
expect_equal(events(2).parallel, uint16(17), 'second parallel value');
expect_equal(events(1).reason, uint16(1), 'reason');
expect_equal(events(1).sma1, uint16(0), 'single-line input');
[n, times, events] = kestmex('digin');
expect_equal(n, 0, 'drained');
expect_equal(times, zeros(1, 0), 'no times');
expect_equal(size(events), [1 0], 'no events');

% The capture switch: query and confirmed set.
expect_equal(kestmex('digin', 'bit-change', 1), 1, 'set on');
expect_equal(kestmex('digin', 'bit-change'), 1, 'reads back on');
expect_equal(kestmex('digin', 'bit-change', 0), 0, 'set off');
expect_equal(kestmex('digin', 'bit-change'), 0, 'reads back off');
paxctl('echo drop');
expect_error('failed to set property', 'digin', 'bit-change', 1);
paxctl('echo normal');
expect_error('invalid stream string provided for stream_type', 'digin', 3);

% --- Spike thresholds.
[lower, upper] = kestmex('spike-thresh', [1 2]);
expect_equal(lower, [-200 -200], 'lower thresholds');
expect_equal(upper, [6554 6554], 'upper thresholds');
kestmex('spike-thresh', [1 2], [-100 -150], [300 400]);
eventually_equal(@() spike_thresholds([1 2]), [-100 -150; 300 400], 'set with uppers');
kestmex('spike-thresh', [1 2], [-50 -60]);
eventually_equal(@() spike_thresholds([1 2]), [-50 -60; 300 400], 'set without uppers keeps them');
kestmex('spike-thresh', 2, -70, []);
eventually_equal(@() spike_thresholds(2), [-70; 400], 'an empty upper list keeps them');
expect_error('electrode list and thresholds must match', 'spike-thresh', [1 2], [-1 -2 -3]);
expect_error('electrode list and thresholds must match', 'spike-thresh', [1 2], [-1 -2], 5);
expect_error('invalid electrode', 'spike-thresh', -1);
expect_error('invalid electrode', 'spike-thresh', 0, -10);
expect_error('electrode not found', 'spike-thresh', 500);
expect_error('usage: [lower, upper] = kestmex(''spike-thresh'', elec (1-512), [lower [, upper]])', 'spike-thresh');

% --- "no-warning" keeps the lost-packet warning quiet.
kestmex('close');
evalc('kestmex(''no-warning'');');
kestmex('spike', 1);
paxctl('seq-gap 7 3');
spikes_for(200, 30000);
paxctl('seq-gap 0');
out = evalc('[counts, times] = kestmex(''spike'', 1);');
assert(isempty(strfind(out, 'Lost spike')), 'no lost-packet warning');
assert(counts > 0, 'spikes arrived');
kestmex('close');
