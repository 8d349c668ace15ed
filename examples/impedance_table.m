% Impedance table of a front end: measure the impedance of the first eight electrodes of the
% front end whose label contains "A1" and print one line per electrode.
%
% Run it with the kestmex module on the path, e.g. against the emulated processor (here with
% electrode 4 reported as an open circuit):
%   source scripts/kest-env.sh
%   build/default/emulator/paxsim --overflow 3 &
%   octave-cli --eval "addpath([pwd '/build/default/mex']); run('examples/impedance_table.m')"

label = 'A1';
if ~kestmex()
  error('impedance_table: could not connect to the processor');
end
electrodes = kestmex('elec', label);
electrodes = electrodes(1:min(8, numel(electrodes)));
ohms = kestmex('impedance', electrodes, 10, 'default');   % 10 uA, default accuracy

printf('front end "%s"\n%9s %12s\n', label, 'electrode', 'impedance');
for k = 1:numel(electrodes)
  if isnan(ohms(k))
    printf('%9d %12s\n', electrodes(k), 'out of range');
  else
    printf('%9d %9.1f kOhm\n', electrodes(k), ohms(k) / 1000);
  end
end
printf('impedance table: %d electrodes measured, %d out of range\n', numel(ohms), ...
       sum(isnan(ohms)));
kestmex('close');
