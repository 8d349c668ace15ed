function both = spike_thresholds(electrodes)
  % The lower thresholds of `electrodes` in the first row, the upper ones in the second.
  [lower, upper] = kestmex('spike-thresh', electrodes);
  both = [lower; upper];
end
