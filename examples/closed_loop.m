% Closed loop: every 50 ms read the spike counts of four stimulating electrodes, keep each
% one's rate over the last second, and when a rate rises past the threshold play a short
% stimulation train on that electrode. Prints each train it sends and a summary.
%
% Run it with the kestmex module on the path against a processor whose electrodes 1-4
% stimulate, e.g. the emulated one with spikes at 30 Hz:
%   source scripts/kest-env.sh
%   build/default/emulator/paxsim --mode both --spike-rate 30 &
%   octave-cli --eval "addpath([pwd '/build/default/mex']); run('examples/closed_loop.m')"

electrodes = [1 2 3 4];
threshold = 15;       % spikes per second
window = 30000;       % one second in processor ticks
period = 0.05;        % seconds between reads
runFor = 5;           % seconds at most
train = 'Elect=%d;TL=100;Freq=50;Dur=0.2;Amp=10';

if ~kestmex('tcp')
  error('closed_loop: could not connect to the processor');
end
kestmex('spike', electrodes);     % start from empty spike rings
kestmex('stimdata', electrodes);  % and empty stimulation rings

readTimes = zeros(1, 0);          % processor time of each read
readCounts = zeros(numel(electrodes), 0);
above = false(numel(electrodes), 1);
sent = zeros(1, 0);
started = tic;
firstRead = double(kestmex('time'));
while toc(started) < runFor && numel(unique(sent)) < numel(electrodes)
  pause(period);
  now = double(kestmex('time'));
  readTimes(end + 1) = now;
  readCounts(:, end + 1) = kestmex('spike', electrodes);
  keep = readTimes > now - window;
  readTimes = readTimes(keep);
  readCounts = readCounts(:, keep);
  if readTimes(end) - readTimes(1) < 0.9 * window
    continue;  % judge rates over a (nearly) full window only
  end
  % Spikes of the reads after the oldest one kept, over the time they span.
  rate = sum(readCounts(:, 2:end), 2) / ((readTimes(end) - readTimes(1)) / 30000);
  crossed = rate >= threshold & ~above;
  above = rate >= threshold;
  for e = electrodes(crossed)
    kestmex('stim', sprintf(train, e));
    sent(end + 1) = e;
    printf('%6.2f s: electrode %d at %.1f spikes/s, stimulation train sent\n', ...
           (now - firstRead) / 30000, e, rate(electrodes == e));
  end
end

% The processor reports each pulse it played as a stimulation segment.
pulses = zeros(numel(electrodes), 1);
deadline = tic;
while any(pulses(ismember(electrodes, sent)) < 5) && toc(deadline) < 5
  pause(0.05);
  pulses = pulses + kestmex('stimdata', electrodes);
end
for k = 1:numel(electrodes)
  printf('electrode %d: %d stimulation pulses reported\n', electrodes(k), pulses(k));
end
printf('closed loop: %d trains sent, %d pulses reported\n', numel(sent), sum(pulses));
kestmex('close');
