function demo_plot(file, electrodes, raw, rawStart, lfp, lfpStart, times, waveforms)
  % demo_plot(file, electrodes, raw, rawStart, lfp, lfpStart, times, waveforms)
  % Draws what the demo read into a PNG, without a display: the raw signal and the LFP of
  % each electrode (one row each, in uV), a raster of the spike times, and the mean spike
  % waveform of each electrode (uV over ms). raw and lfp hold one row per electrode at
  % 30 kS/s and 1 kS/s from processor times rawStart and lfpStart (30 kHz ticks); times{k}
  % and waveforms{k} are the spike times (ticks) and waveforms (uV, 52 samples) of
  % electrode k.
  % Headless: gnuplot draws straight into a PNG through its cairo terminal.
  format = '-dpng';
  if any(strcmp(available_graphics_toolkits(), 'gnuplot'))
    warning('off', 'Octave:gnuplot-graphics');
    warning('off', 'print:nogs'); % cairo needs no Ghostscript
    graphics_toolkit('gnuplot');
    format = '-dpngcairo';
  end
  ticks = 30000;
  t0 = double(rawStart) / ticks;
  % Samples lost on the way hold the lowest ADC value (-32768 counts, -8192 uV): left out.
  raw(raw <= -8192) = NaN;
  lfp(lfp <= -8192) = NaN;
  names = arrayfun(@(e) sprintf('elec %d', e), electrodes, 'UniformOutput', false);
  n = numel(electrodes);

  fig = figure('visible', 'off', 'position', [0 0 1200 900]);
  % Sizes as gnuplot's cairo terminal scales them for this canvas.
  set(fig, 'defaultaxesfontsize', 4, 'defaulttextfontsize', 4);

  subplot(2, 2, 1);
  tRaw = double(rawStart) / ticks + (0:size(raw, 2) - 1) / 30000 - t0;
  spacing = 2.2 * max([max(abs(raw(~isnan(raw)))) 1]);
  hold on;
  for k = 1:n
    plot(tRaw, raw(k, :) - (k - 1) * spacing);
  end
  hold off;
  set(gca, 'ytick', -(n - 1:-1:0) * spacing, 'yticklabel', fliplr(names));
  xlabel('time (s)');
  ylabel(sprintf('raw (%.0f \\muV per row)', spacing));
  title('raw signal, 30 kS/s');
  xlim([0 1]);

  subplot(2, 2, 2);
  tLfp = double(lfpStart) / ticks + (0:size(lfp, 2) - 1) / 1000 - t0;
  spacing = 2.2 * max([max(abs(lfp(~isnan(lfp)))) 1]);
  hold on;
  for k = 1:n
    plot(tLfp, lfp(k, :) - (k - 1) * spacing);
  end
  hold off;
  set(gca, 'ytick', -(n - 1:-1:0) * spacing, 'yticklabel', fliplr(names));
  xlabel('time (s)');
  ylabel(sprintf('LFP (%.0f \\muV per row)', spacing));
  title('local field potential, 1 kS/s');
  xlim([0 1]);

  subplot(2, 2, 3);
  hold on;
  for k = 1:n
    t = double(times{k}) / ticks - t0;
    t = t(t >= 0 & t <= 1);
    for j = 1:numel(t)
      plot([t(j) t(j)], [k - 0.4, k + 0.4], 'k');
    end
  end
  hold off;
  set(gca, 'ytick', 1:n, 'yticklabel', names);
  ylim([0.4 n + 0.6]);
  xlim([0 1]);
  xlabel('time (s)');
  ylabel('electrode');
  title('spike raster');

  subplot(2, 2, 4);
  hold on;
  shown = {};
  for k = 1:n
    if ~isempty(waveforms{k})
      plot((0:51) / 30, mean(waveforms{k}, 1));
      shown{end + 1} = sprintf('%s (%d spikes)', names{k}, size(waveforms{k}, 1));
    end
  end
  hold off;
  if ~isempty(shown)
    legend(shown, 'location', 'southeast', 'fontsize', 4);
    legend('boxoff');
  end
  xlim([0 51 / 30]);
  xlabel('time from segment start (ms)');
  ylabel('voltage (\muV)');
  title('mean spike waveform per electrode');

  print(fig, file, format, '-S1200,900');
  close(fig);
end
