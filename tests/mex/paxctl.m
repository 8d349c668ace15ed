function answer = paxctl(command)
  % Sends one command to the emulated processor's control channel and returns its answer
  % without the leading "ok"; an answer other than "ok ..." fails the test.
  here = fileparts(mfilename('fullpath'));
  python = getenv('KEST_TEST_PYTHON');
  if isempty(python)
    python = 'python3';
  end
  [status, out] = system(sprintf('"%s" "%s" %s %s', python, fullfile(here, 'paxctl.py'), ...
                                 getenv('KEST_TEST_CONTROL_PORT'), command));
  out = strtrim(out);
  if status ~= 0 || ~strncmp(out, 'ok', 2)
    error('paxctl: "%s" answered "%s"', command, out);
  end
  answer = strtrim(out(3:end));
end
