function expect_equal(actual, expected, what)
  % Fails the test with a readable message when the two values differ (class included).
  if ~isequal(class(actual), class(expected)) || ~isequal(actual, expected)
    error('%s: expected %s (%s), got %s (%s)', what, disp_value(expected), class(expected), ...
          disp_value(actual), class(actual));
  end
end

function text = disp_value(v)
  if ischar(v)
    text = ['"' v '"'];
  else
    text = strtrim(evalc('disp(v)'));
  end
end
