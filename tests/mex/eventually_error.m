function eventually_error(text)
  % Calls kestmex('time') until a processor message arrives and the call raises it as an
  % error, which must be `text`; fails after a generous minute, or when a warning comes first.
  deadline = time() + 60;
  lastwarn('');
  while time() < deadline
    try
      kestmex('time');
    catch err
      message = regexprep(err.message, '^kestmex: ', '');
      if ~strcmp(strtrim(message), strtrim(text))
        error('expected error "%s", got "%s"', text, err.message);
      end
      return;
    end
    if ~isempty(lastwarn())
      error('expected error "%s", got warning "%s"', text, lastwarn());
    end
    pause(0.01);
  end
  error('expected error "%s": none within a minute', text);
end
