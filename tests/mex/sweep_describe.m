function text = sweep_describe(args)
  % A short description of a call's arguments: words in quotes, other values by class and size.
  parts = cell(1, numel(args));
  for i = 1:numel(args)
    a = args{i};
    if ischar(a) && rows(a) == 1 && numel(a) <= 60 && all(a >= 32 & a < 127)
      parts{i} = ['''' a ''''];
    elseif isnumeric(a) && isreal(a) && ~issparse(a) && numel(a) >= 1 && numel(a) <= 4
      parts{i} = sprintf('%s(%s)', class(a), num2str(double(a(:)')));
    else
      parts{i} = sprintf('<%s %s>', class(a), mat2str(size(a)));
    end
  end
  text = strjoin(parts, ', ');
end
