% kestmex demo: connect to the processor, show its time and electrodes, read one second of
% raw and lfp signal from four electrodes and the spikes since the connection, print a short
% summary, draw it all into a PNG (the file named by KEST_DEMO_PNG, else demo.png), and
% close.
%
% Run it with the kestmex module on the path, e.g. against the emulated processor:
%   scripts/demo-job.sh

if ~kestmex()
  error('demo: could not connect to the processor');
end
printf('connected; processor time %d ticks (%.3f s)\n', kestmex('time'), kestmex('time') / 30000);

electrodes = kestmex('elec', 'all');
frontEnd = electrodes(electrodes <= 512);
printf('%d electrodes: front-end electrodes %d to %d', numel(electrodes), min(frontEnd), ...
       max(frontEnd));
analog = electrodes(electrodes > 10240);
if ~isempty(analog)
  printf(', analog inputs %d to %d', min(analog), max(analog));
end
printf('\n');

% Let one second of data arrive.
pause(1.2);

chosen = [1 2 33 34];
chosen = chosen(ismember(chosen, frontEnd));
[raw, rawStart] = kestmex('cont', chosen, 1000, 'raw');
[lfp, lfpStart] = kestmex('cont', chosen, 1000, 'lfp');
[counts, times, waveforms] = kestmex('spike', chosen);

printf('\nraw: %d x %d samples from time %d; lfp: %d x %d samples from time %d\n', ...
       size(raw, 1), size(raw, 2), rawStart, size(lfp, 1), size(lfp, 2), lfpStart);
printf('%9s %12s %12s %8s %16s\n', 'electrode', 'raw RMS uV', 'lfp RMS uV', 'spikes', ...
       'first spike at');
for k = 1:numel(chosen)
  rawRms = sqrt(mean(raw(k, ~isnan(raw(k, :))) .^ 2));
  lfpRms = sqrt(mean(lfp(k, ~isnan(lfp(k, :))) .^ 2));
  first = '-';
  if ~isempty(times{k})
    first = sprintf('%d', times{k}(1));
  end
  printf('%9d %12.1f %12.1f %8d %16s\n', chosen(k), rawRms, lfpRms, counts(k), first);
end

kestmex('close');
printf('\nclosed\n');

picture = getenv('KEST_DEMO_PNG');
if isempty(picture)
  picture = fullfile(pwd(), 'demo.png');
end
demo_plot(picture, chosen, raw, rawStart, lfp, lfpStart, times, waveforms);
printf('picture: %s\n', picture);
