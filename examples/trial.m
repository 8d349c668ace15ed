% A recorded trial: connect an operator application, name the recording, start, pause and
% stop it, reading the trial's status after each step. Prints every status it read.
%
% Run it with the kestmex module on the path against a processor and an operator at host 130
% of the wired network, e.g. the emulated ones:
%   source scripts/kest-env.sh
%   build/default/emulator/paxsim --mode both --operators 130 &
%   octave-cli --eval "addpath([pwd '/build/default/mex']); run('examples/trial.m')"

operator = '130';
if ~kestmex('tcp')    % operators are reached over the stream link
  error('trial: could not connect to the processor');
end
id = kestmex('addoper', operator);
printf('operator %s connected (id %d)\n', operator, id);

t = kestmex('trial', [], 'example-run', [], [], [], operator);
printf('file base "%s", status %s\n', t.filebase, t.status);

steps = {'recording', 'recording'; 'paused', 'paused'; 'stopped', 'stopped'};
for k = 1:size(steps, 1)
  t = kestmex('trial', steps{k, 1}, [], [], [], [], operator);
  printf('asked for %s: %s\n', steps{k, 1}, t.status);
  % The operator answers with "... requested" first and gets there a moment later.
  deadline = tic;
  while ~strcmp(t.status, steps{k, 2}) && toc(deadline) < 5
    pause(0.05);
    t = kestmex('trial', [], [], [], [], [], operator);
  end
  printf('  now %s\n', t.status);
end
if ~isempty(t.error_msg)
  printf('operator reports: %s\n', t.error_msg);
end
printf('trial: %s, file base "%s"\n', t.status, t.filebase);
kestmex('close');
