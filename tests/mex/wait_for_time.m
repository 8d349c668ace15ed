function wait_for_time(target, what)
  % Waits until the processor time the module reports (its newest sample) reaches `target`
  % ticks: every packet the processor sent before that time has then reached the cache. Fails
  % naming `what` after a generous minute. Each call runs a command, which also forwards any
  % queued processor message.
  deadline = time() + 60;
  while double(kestmex('time')) < double(target)
    if time() > deadline
      error('waited a minute for %s: processor time %d, wanted %d', what, ...
            double(kestmex('time')), double(target));
    end
    pause(0.01);
  end
end
