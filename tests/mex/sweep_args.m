function args = sweep_args(word)
  % Random arguments after `word`: a subcommand word first now and then, then random values.
  % Bounded where a well-formed call legitimately takes long: no processor restart without an
  % argument most of the time, short timeouts for "addoper" and "processor-status".
  count = sweep_pick(0, 5);
  if strcmp(word, 'processor-restart') && rand < 0.95
    count = max(count, 1);
  end
  args = cell(1, count);
  for i = 1:count
    args{i} = sweep_value();
  end
  if count > 0 && rand < 0.5
    args{1} = sweep_value(0, true);
  end
  switch word
    case 'addoper'
      % An operator that is not there is waited for up to the timeout: keep it short.
      timeouts = {1, 50, 200, -1, NaN, Inf, 1e12, 'x', int8(5), []};
      args = [args(1:min(2, end)), {timeouts{sweep_pick(numel(timeouts))}}];
      if numel(args) < 3
        args = {'140', 'wired-only', 1};
      end
    case {'processor-status', 'processor'}
      % A processor that is not found is looked for up to the timeout.
      for i = 1:numel(args)
        if isnumeric(args{i}) && ~isempty(args{i}) && any(args{i}(:) > 200)
          args{i} = 100;
        end
      end
  end
end
