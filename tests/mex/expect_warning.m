function varargout = expect_warning(text, varargin)
  % Calls kestmex(varargin{:}) and checks that it issued the warning `text` (the last one).
  lastwarn('');
  [varargout{1:nargout}] = kestmex(varargin{:});
  message = lastwarn();
  if ~strcmp(strtrim(message), strtrim(text))
    error('expected warning "%s", got "%s"', text, message);
  end
end
