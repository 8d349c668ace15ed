function w = pax_waveform(unit)
  % The emulated processor's 52-sample spike waveform of a unit, in counts: a trough at
  % sample 12 and a slower positive rebound, larger for higher units.
  depth = 300 + 250 * unit;
  w = zeros(1, 52);
  for i = 0:51
    d = i - 12;
    trough = 0;
    if abs(d) <= 4
      trough = fix(-depth * (5 - abs(d)) / 5);
    end
    rebound = 0;
    if i > 14 && i < 40
      step = 40 - i;
      if i < 24
        step = i - 14;
      end
      rebound = fix(fix(depth / 3) * step / 10);
    end
    w(i + 1) = trough + rebound;
  end
end
