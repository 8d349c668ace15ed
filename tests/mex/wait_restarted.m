function wait_restarted(count)
  % Waits until the emulated processor has restarted `count` times in all and speaks again
  % (a restart keeps it silent for a while); fails after a generous minute.
  deadline = time() + 60;
  while true
    stats = paxctl('stats');
    restarts = str2double(regexp(stats, 'restarts=(\d+)', 'tokens', 'once'));
    if restarts >= count && ~isempty(strfind(stats, 'silent=0'))
      return;
    end
    if time() > deadline
      error('the processor is not back from restart %d: %s', count, stats);
    end
    pause(0.05);
  end
end
