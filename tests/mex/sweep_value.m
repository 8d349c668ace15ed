function v = sweep_value(depth, text)
  % One random argument: numbers of every class and shape with NaN/Inf, huge, negative and
  % fractional values, empty arrays, strings, cells and structs (nested up to two levels).
  % With `text` true, a word of the commands or a random text.
  if nargin < 1
    depth = 0;
  end
  if nargin > 1 && text
    if rand < 0.8
      v = sweep_word();
    else
      v = sweep_text();
    end
    return;
  end
  specials = [0 1 -1 2 3 4 5 6 8 16 32 33 64 96 128 255 256 511 512 513 1000 1024 ...
              65535 65536 2^31-1 2^31 2^32 2^53 1e300 -1e300 NaN Inf -Inf 0.5 -0.5 ...
              1e-300 realmax realmin eps pi -2^31 -129];
  kinds = 17;
  if depth >= 2
    kinds = 10;
  end
  switch sweep_pick(kinds)
    case {1, 2}
      v = specials(sweep_pick(numel(specials)));
    case 3
      v = sweep_pick(520);
    case 4
      v = sweep_numbers(specials);
    case 5
      classes = {'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64', ...
                 'single', 'logical'};
      c = classes{sweep_pick(numel(classes))};
      x = sweep_numbers(specials);
      if strcmp(c, 'logical')
        v = logical(x(~isnan(x)) ~= 0);
      else
        v = cast(x, c);
      end
    case 6
      v = complex(sweep_numbers(specials), 1);
    case {7, 8}
      v = sweep_word();
    case 9
      v = sweep_text();
    case 10
      empties = {[], '', zeros(0, 3), zeros(1, 0), int32([]), single([]), false(0, 0), ...
                 {}, struct([]), char(zeros(0, 5))};
      v = empties{sweep_pick(numel(empties))};
    case 11
      v = cell(sweep_pick(0, 2), sweep_pick(0, 3));
      for i = 1:numel(v)
        v{i} = sweep_value(depth + 1);
      end
    case {12, 13}
      v = sweep_struct(depth);
    case 14
      v = sparse(double(rand(sweep_pick(0, 3), sweep_pick(0, 3)) > 0.5));
    case 15
      v = @sin;
    case 16
      v = char(floor(rand(sweep_pick(1, 3), sweep_pick(0, 20)) * 256));
    case 17
      v = repmat('a', 1, sweep_pick(255, 5000));
  end
end

function x = sweep_numbers(specials)
  shapes = {[0 0], [1 0], [0 1], [1 1], [1 sweep_pick(8)], [sweep_pick(8) 1], [sweep_pick(4) sweep_pick(4)], ...
            [2 2 2], [1 600]};
  shape = shapes{sweep_pick(numel(shapes))};
  x = specials(floor(rand(shape) * numel(specials)) + 1);
  electrodes = rand(shape) < 0.5;
  x(electrodes) = floor(rand(nnz(electrodes), 1) * 520) + 1;
end

function w = sweep_word()
  vocabulary = {'raw', 'lfp', 'spk', 'hi-res', 'analog1k', 'digin', 'list', 'set', ...
                'custom', 'enable', 'status', 'connected', 'command', 'watch', 'battery', ...
                'wall', 'vdd', 'external-battery', 'detect-external-battery', 'event', 'f1', ...
                'f2', 'stop_stim', 'stim', 'recording', 'stopped', 'paused', 'processor', ...
                'restart', 'timeout', 'wired-only', 'wireless-only', 'prefer-wired', ...
                'prefer-wireless', 'fast', 'medium', 'default', 'highest', 'immed', 'curcyc', ...
                'allcyc', 'trigger', 'at-time', 'all', 'module-enable', 'res', 'res_options', ...
                'exhaust', 'trigger-source', '130', '131', '140', '42.130', 'help', 'on', ...
                'off', 'no-warning', 'tcp', 'udp', 'name', 'zero', '0', '-1', '1e9', 'NaN', ...
                'Elect=1;TL=200;Freq=50;Dur=0.2;Amp=10', 'file', 'processor-status'};
  w = vocabulary{sweep_pick(numel(vocabulary))};
end

function t = sweep_text()
  % Random printable text without dots (no full network addresses), or a stimulation text.
  if rand < 0.5
    alphabet = ['a':'z', 'A':'Z', '0':'9', ' ;=,-_+*/:'];
    t = alphabet(floor(rand(1, sweep_pick(0, 40)) * numel(alphabet)) + 1);
    return;
  end
  keys = {'Elect', 'Freq', 'TL', 'CathDur', 'AnodDur', 'Dur', 'CathAmp', 'AnodAmp', 'Amp', ...
          'TD', 'FS', 'PL', 'Bogus', ''};
  values = {'1', '0', '-1', '200', '50', '0.2', '1e9', '-1e300', 'NaN', 'Inf', '', 'x', ...
            '1,2,3', '513', '65536', '4294967296', '1e-9'};
  parts = cell(1, sweep_pick(0, 8));
  for i = 1:numel(parts)
    parts{i} = [keys{sweep_pick(numel(keys))} '=' values{sweep_pick(numel(values))}];
  end
  t = strjoin(parts, ';');
end

function s = sweep_struct(depth)
  % A struct (array) with the fields of "stimseq" or "filter custom" or random ones, each
  % holding a random value; now and then a well-formed one with a single field perturbed.
  sets = {{'elec', 'period', 'repeats', 'action', 'seq'}, ...
          {'length', 'pol', 'ampl', 'enable', 'ampSelect', 'fs', 'delay'}, ...
          {'label', 'center', 'lowCutoff', 'highCutoff', 'centerOrder', 'lowOrder', ...
           'highOrder', 'numStages', 'sos'}};
  fields = sets{sweep_pick(numel(sets))};
  count = sweep_pick(0, 3);
  s = struct();
  if count == 0
    s = repmat(s, 0, 1);
  end
  for k = 1:count
    for f = 1:numel(fields)
      if rand < 0.9
        s(k).(fields{f}) = sweep_field(fields{f}, depth);
      end
    end
  end
end

function v = sweep_field(name, depth)
  if rand < 0.4
    v = sweep_value(depth + 1);
    return;
  end
  switch name
    case 'seq'
      v = struct('length', sweep_pick(200), 'pol', sweep_pick(0, 1), 'ampl', sweep_pick(100), ...
                 'enable', sweep_pick(0, 1), 'ampSelect', sweep_pick(0, 1), 'fs', sweep_pick(0, 1), ...
                 'delay', sweep_pick(0, 10));
      v = repmat(v, 1, sweep_pick(1, 4));
    case 'action'
      actions = {'immed', 'curcyc', 'allcyc', 'trigger', 'at-time'};
      v = actions{sweep_pick(numel(actions))};
    case 'label'
      v = 'sweep';
    case 'sos'
      v = rand(sweep_pick(0, 3), 6);
    case 'elec'
      v = sweep_pick(40);
    otherwise
      v = sweep_pick(10);
  end
end
