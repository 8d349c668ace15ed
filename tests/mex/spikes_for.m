function spikes_for(rate, ticks)
  % Lets the emulated processor fire spikes at `rate` per second and channel for `ticks` of
  % its clock, stops them, and waits until every spike it sent has reached the cache.
  paxctl(sprintf('spike-rate %d', rate));
  from = processor_time();
  wait_for_time(from + ticks, 'spikes');
  paxctl('spike-rate 0');
  wait_for_time(processor_time(), 'the last spikes');
end
