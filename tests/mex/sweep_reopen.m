function sweep_reopen()
  % Leaves an open TCP connection with operator 130 added, whatever the last call did. The
  % module is unloaded first, so that the next call opens (a restarted processor answers
  % again soon).
  clear kestmex;
  wait_until(@() kestmex('tcp'), 'open over TCP', 30);
  kestmex('addoper', '130', 'wired-only', 2000);
end
