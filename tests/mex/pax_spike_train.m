function [times, units] = pax_spike_train(electrode, rate, last, seed)
  % Spike times and units of an electrode (0-based) of the emulated processor at `rate` spikes
  % per second, every spike up to processor time `last`.
  if nargin < 4
    seed = 1;
  end
  base = floor(30000 / rate);
  n = ceil(last / (base / 2)) + 1;
  times = zeros(1, n);
  t = mod(pax_mix(seed, electrode, 2147483647), base);
  k = 0;
  while t <= last
    times(k + 1) = t;
    k = k + 1;
    t = t + floor(base / 2) + mod(pax_mix(seed, bitor(electrode, 1073741824), k), base);
  end
  times = times(1:k);
  units = mod(pax_mix(seed, bitxor(electrode, 23130), 0:k - 1), 4);
end
