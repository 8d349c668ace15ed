function h = pax_mix(seed, a, b)
  % The emulated processor's 32-bit mixing function, on whole numbers held in doubles.
  h = bitxor(bitxor(mul32(seed, 2654435761), mul32(a, 2246822519)), mul32(b, 3266489917));
  h = bitxor(h, floor(h / 2^15));
  h = mul32(h, 739982445);
  h = bitxor(h, floor(h / 2^12));
  h = mul32(h, 695872825);
  h = bitxor(h, floor(h / 2^15));
end

function p = mul32(a, b)
  % a * b modulo 2^32 for whole numbers below 2^32, exact in doubles.
  a_lo = mod(a, 65536);
  a_hi = floor(a / 65536);
  b_lo = mod(b, 65536);
  p = mod(mod(a_lo .* b, 2^32) + mod(a_hi .* b_lo, 65536) * 65536, 2^32);
end
