function k = sweep_pick(low, high)
  % A random integer in 1..low, or in low..high (cheaper than randi in a long loop).
  if nargin < 2
    k = floor(rand * low) + 1;
  else
    k = low + floor(rand * (high - low + 1));
  end
end
