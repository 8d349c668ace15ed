% Continuous windows: exact samples and start times against the emulated processor's
% deterministic signals, alignment across front ends, the duration cap, stale start times,
% segment streams, and the checks of the arguments.
expect_equal(kestmex(), true, 'open');
opened = double(kestmex('time'));
wait_for_time(opened + 30000, 'a second of samples');

% Three electrodes of one front end, newest samples: one start time for every row.
before = double(kestmex('time'));
[data, start] = kestmex('cont', [1 2 3], 100, 'raw');
after = double(kestmex('time'));
expect_equal(class(start), 'uint32', 'start time class');
expect_equal(size(data), [3 3000], '100 ms of raw');
check_samples(data, [1 2 3], 0, start, 1, 'raw, one front end');
assert(double(start) + 3000 > before - 3000 && double(start) + 3000 <= after + 1, ...
       'the newest samples end at the newest time');

% Electrodes of two front ends from a given start time: every row from that time on.
from = uint32(kestmex('time') - 6000);
[data, start] = kestmex('cont', [33 1 34 64], 100, 'raw', double(from));
expect_equal(start, from, 'start time given');
expect_equal(size(data), [4 3000], 'two front ends from a start time');
check_samples(data, [33 1 34 64], 0, start, 1, 'raw, two front ends');

% Newest samples of two front ends: the second is read from the first one's start time. A
% row that got fewer samples than the last one ends in NaN, never in made-up values.
aligned = [1 33 2];
[data, start] = kestmex('cont', aligned, 50, 'raw');
for k = 1:3
  row = data(k, :);
  missing = find(isnan(row));
  assert(isempty(missing) || isequal(missing, missing(1):numel(row)), 'NaN only at the end');
  check_samples(row(~isnan(row)), aligned(k), 0, start, 1, 'aligned row');
end
check_samples(data(1, :), 1, 0, start, 1, 'first row');
check_samples(data(3, :), 2, 0, start, 1, 'last row');

% "cont-adc" is the same command.
from = double(kestmex('time') - 3000);
a = kestmex('cont', [5 40], 20, 'raw', from);
b = kestmex('cont-adc', [5 40], 20, 'raw', from);
expect_equal(b, a, 'cont-adc equals cont');
expect_equal(size(a), [2 600], '20 ms');

% A 1 kHz stream: 1000 columns for 1000 ms, one sample every 30 ticks.
wait_for_time(opened + 60000, 'two seconds of samples');
[data, start] = kestmex('cont', [1 33], 1000, 'lfp');
expect_equal(size(data), [2 1000], '1000 ms of lfp');
expect_equal(mod(double(start), 30), 0, 'lfp samples lie on its period');
check_samples(data, [1 33], 2, start, 30, 'lfp');

% A segment stream passes the check but has no samples: N x 0 and one warning.
out = evalc('[data, start] = kestmex(''cont'', [1 2], 100, ''spk'');');
expect_equal(size(data), [2 0], 'segment stream');
expect_equal(numel(strfind(out, 'invalid timestamp')), 1, 'one warning for a segment stream');

% The empty electrode list.
[data, start] = kestmex('cont', [], 100, 'raw');
expect_equal(data, zeros(0, 0), 'no electrodes');
expect_equal(start, uint32(0), 'no electrodes: start time');

% Argument checks.
usage = 'usage: kestmex(''cont'', elec [1-512], dur [ms], stream_type, wanted_time [PAX state clock])';
expect_error(usage, 'cont', 1, 100);
expect_error('electrode 0 not found', 'cont', 0, 100, 'raw');
expect_error('electrode 500 not found', 'cont', [1 500], 100, 'raw');
bad = 'electrodes are whole numbers from 1 to 4294967295';
for value = [-1, NaN, Inf, 2^32, 1e20]
  try
    kestmex('cont', value, 100, 'raw');
    error('electrode %g was taken', value);
  catch err
    assert(~isempty(strfind(err.message, bad)), err.message);
  end
end
expect_error('electrodes must be given as numbers', 'cont', 'abc', 100, 'raw');
expect_error('invalid stream string provided for stream_type', 'cont', 1, 100, 5);
expect_error('invalid stream type.  Streams may be found with ''signal'' command', 'cont', 1, 100, 'nope');
expect_error('invalid stream type for elec: 10241', 'cont', [1 10241], 100, 'raw');
expect_error('invalid duration: dur is a number of milliseconds from 0 to 5120', 'cont', 1, -5, 'raw');
expect_error('invalid wanted_time: a processor time from 0 to 4294967295', 'cont', 1, 5, 'raw', -1);

% Once more than 5.12 s have passed: the duration cap and a start time that is too old.
wait_for_time(opened + 165000, 'more than 5.12 s of samples since the open');
[data, start] = kestmex('cont', [1 2], 6000, 'raw');
expect_equal(size(data), [2 153600], 'duration capped at 5120 ms');
check_samples(data(:, end - 2999:end), [1 2], 0, double(start) + 150600, 1, 'newest of 5.12 s');
% A whole ring from two front ends: every row aligned, none empty even when the second front
% end took newer samples than the first while the first was read.
whole = [64 33 2 1];
for round = 1:3
  [data, start] = kestmex('cont', whole, 5120, 'raw');
  expect_equal(size(data, 1), 4, 'rows of a whole ring');
  assert(size(data, 2) >= 153500, sprintf('%d columns', size(data, 2)));
  for k = 1:4
    row = data(k, :);
    got = find(~isnan(row), 1, 'last');
    assert(got >= 153500 && all(~isnan(row(1:got))), 'row filled up to its own newest sample');
    check_samples(row(1:3000), whole(k), 0, start, 1, 'whole ring, row start');
    check_samples(row(got - 2999:got), whole(k), 0, double(start) + got - 3000, 1, ...
                  'whole ring, row end');
  end
end
old = double(kestmex('time')) - 160000;
out = evalc('[data, start] = kestmex(''cont'', [1 2 33], 100, ''raw'', old);');
expect_equal(size(data), [3 0], 'start time older than the ring');
expect_equal(numel(strfind(out, 'invalid timestamp')), 1, 'one warning for a stale start time');
kestmex('close');
