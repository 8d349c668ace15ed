function bytes = pax_record(module, name, offset)
  % The bytes of a record the emulated processor stores: the named property of a module, or
  % record `offset` of the named block (offset 0 for a property).
  first = str2double(paxctl(sprintf('index %d %s', module, name)));
  bytes = sscanf(paxctl(sprintf('get %d %d', module, first + offset)), '%x')';
end
