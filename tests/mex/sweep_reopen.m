function sweep_reopen()
  % Leaves an open TCP connection with operator 130 added, whatever the last call did: a
  % closed connection opens on the first call (over UDP, where operators are refused), a
  % restarted processor answers again soon.
  kestmex();
  try
    kestmex('addoper', '130', 'wired-only', 2000);
  catch
    kestmex('close');
    wait_until(@() kestmex('tcp'), 'open over TCP', 30);
    kestmex('addoper', '130', 'wired-only', 2000);
  end
end
