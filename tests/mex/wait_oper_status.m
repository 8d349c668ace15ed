function wait_oper_status(oper, status)
  % Waits (up to 5 s) until the emulated operator `oper` reports trial status `status`.
  deadline = time() + 5;
  while ~strcmp(paxctl(['trial-status ' oper]), num2str(status))
    if time() > deadline
      error('operator %s did not reach trial status %d', oper, status);
    end
    pause(0.01);
  end
end
