function expect_error(text, varargin)
  % Calls kestmex(varargin{:}) and checks that it raises an error with `text`. The host may
  % put "kestmex: " in front and drop a trailing newline.
  try
    kestmex(varargin{:});
  catch err
    message = regexprep(err.message, '^kestmex: ', '');
    if ~strcmp(strtrim(message), strtrim(text))
      error('kestmex(%s): expected error "%s", got "%s"', describe(varargin), text, err.message);
    end
    return;
  end
  error('kestmex(%s): expected error "%s", got none', describe(varargin), text);
end

function text = describe(args)
  parts = cellfun(@(a) disp_arg(a), args, 'UniformOutput', false);
  text = strjoin(parts, ', ');
end

function text = disp_arg(a)
  if ischar(a)
    text = ['''' a ''''];
  else
    text = ['<' class(a) '>'];
  end
end
