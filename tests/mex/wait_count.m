function total = wait_count(read, target, what, seconds)
  % Adds up read() every 20 ms (each call empties what it counts) until the sum reaches
  % target; fails the test after `seconds` (default 10). Returns the sum.
  if nargin < 4
    seconds = 10;
  end
  total = 0;
  deadline = tic;
  while true
    total = total + read();
    if total >= target
      return;
    end
    if toc(deadline) > seconds
      error('%s: %d of %d within %g s', what, total, target, seconds);
    end
    pause(0.02);
  end
end
