function wait_until(condition, what)
  % Polls condition() until it holds, for at most 5 s; fails the test otherwise.
  deadline = time() + 5;
  while ~condition()
    if time() > deadline
      error('timed out waiting for %s', what);
    end
    pause(0.01);
  end
end
