function values = pax_sample(electrode, ordinal, times, seed)
  % The emulated processor's 16-bit sample of a channel at the given processor times: a
  % triangle wave of amplitude 800 with a half period that depends on the channel key, plus
  % noise from the emulator's 32-bit mixing function. `electrode` is 0-based; `ordinal` is the
  % stream's number (raw 0, lfp 2, ...).
  if nargin < 4
    seed = 1;
  end
  key = electrode + 16384 * ordinal;
  times = double(times);
  half = 75 + 7 * mod(key, 97);
  x = mod(times + 131 * key, 2 * half);
  up = x < half;
  triangle = zeros(size(times));
  triangle(up) = -800 + fix(2 * 800 * x(up) / half);
  triangle(~up) = 800 - fix(2 * 800 * (x(~up) - half) / half);
  noise = mod(pax_mix(seed, key, times), 33) - 16;
  values = triangle + noise;
end
