% Filter and signal switching: list an electrode's streams, switch its front end's LFP stream
% off and on again, and select another LFP filter, printing each step.
%
% Run it with the kestmex module on the path, e.g. against the emulated processor:
%   source scripts/kest-env.sh
%   build/default/emulator/paxsim &
%   octave-cli --eval "addpath([pwd '/build/default/mex']); run('examples/filter_signal.m')"

electrode = 1;
if ~kestmex()
  error('filter_signal: could not connect to the processor');
end
printf('electrode %d streams: %s\n', electrode, strjoin(kestmex('signal', electrode), ', '));

% A continuous stream is switched for the whole front end, and confirmed by the processor.
printf('lfp is %d\n', kestmex('signal', electrode, 'lfp'));
kestmex('signal', electrode, 'lfp', 0);
printf('lfp switched off: %d\n', kestmex('signal', electrode, 'lfp'));
kestmex('signal', electrode, 'lfp', 1);
printf('lfp switched on: %d\n', kestmex('signal', electrode, 'lfp'));

% Filters: the choices of the LFP filter, then another one selected (confirmed as well).
printf('filters: %s\n', strjoin(kestmex('filter', 'list', electrode), ', '));
[selected, choices] = kestmex('filter', 'list', electrode, 'lfp');
for k = 1:numel(choices)
  mark = ' ';
  if k == selected
    mark = '*';
  end
  printf('  %s %d: %s\n', mark, k, choices(k).label);
end
other = mod(selected, numel(choices)) + 1;
kestmex('filter', 'set', electrode, 'lfp', other);
now = kestmex('filter', 'list', electrode, 'lfp');
printf('lfp filter now %d (%s)\n', now, choices(now).label);
kestmex('filter', 'set', electrode, 'lfp', selected);
printf('filter and signal switching: lfp filter %d -> %d -> %d\n', selected, now, ...
       kestmex('filter', 'list', electrode, 'lfp'));
kestmex('close');
