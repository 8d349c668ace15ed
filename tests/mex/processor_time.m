function t = processor_time()
  % The emulated processor's clock now, in ticks, from its control channel.
  t = str2double(paxctl('time'));
end
