function [t, out] = eventually_warned(text)
  % Calls kestmex('time') until a processor message arrives as a warning; the last warning
  % of that call must be `text`. Returns the call's result and its printed output. Fails after
  % a generous minute.
  deadline = time() + 60;
  lastwarn('');
  while time() < deadline
    out = evalc('t = kestmex(''time'');');
    message = lastwarn();
    if ~isempty(message)
      if ~strcmp(strtrim(message), strtrim(text))
        error('expected warning "%s", got "%s"', text, message);
      end
      return;
    end
    pause(0.01);
  end
  error('expected warning "%s": none within a minute', text);
end
