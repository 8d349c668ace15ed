function check_samples(data, electrodes, ordinal, first, period, what)
  % Compares each row of `data` with the emulated processor's samples of its electrode
  % (1-based), scaled to microvolts, from processor time `first` every `period` ticks.
  % Samples the link lost arrive as gap markers and are allowed; any other difference, or
  % more than 1% lost, fails the test.
  columns = size(data, 2);
  times = double(first) + (0:columns - 1) * period;
  lost = 0;
  for k = 1:numel(electrodes)
    expected = pax_sample(electrodes(k) - 1, ordinal, times) * 0.25;
    row = data(k, :);
    marker = row == -32768 * 0.25;
    bad = find(row ~= expected & ~marker, 1);
    if ~isempty(bad)
      error('%s: electrode %d sample %d (time %d): expected %g, got %g', what, ...
            electrodes(k), bad, times(bad), expected(bad), row(bad));
    end
    lost = lost + nnz(marker);
  end
  assert(lost <= 0.01 * numel(data), sprintf('%s: %d samples lost', what, lost));
end
