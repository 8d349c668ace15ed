function wait_until(condition, what, seconds)
  % Polls condition() every 20 ms until it holds; fails the test after `seconds` (default 10).
  if nargin < 3
    seconds = 10;
  end
  deadline = tic;
  while ~condition()
    if toc(deadline) > seconds
      error('%s: not reached within %g s', what, seconds);
    end
    pause(0.02);
  end
end
