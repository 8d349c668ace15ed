#!/usr/bin/env bash
# Times kestmex('cont', 1:512, 5120, 'raw') in Octave against an emulated processor with 16
# front ends on loopback, next to the floor: creating and filling a 512 x 153600 double matrix
# in a trivial MEX module in the same Octave session. The last line is
# "cont/floor ratio: X".
#
# Usage: bench/octave_cont.sh [build directory, default build/default] [calls, default 5]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
calls="${2:-5}"
source "$root/scripts/kest-env.sh" # refuses networks other than loopback

paxsim="$build/emulator/paxsim"
mex_dir="$build/mex"
floor_dir="$build/bench/octave"
for piece in "$paxsim" "$mex_dir/kestmex.mex" "$floor_dir/floor_mex.mex"; do
    [ -e "$piece" ] || { echo "missing: $piece (build paxsim_app, kestmex and floor_mex)" >&2; exit 1; }
done

port_base=$((KEST_PORT_BASE + 700))
control_port=$((port_base + 10))
export KEST_PORT_BASE=$port_base
# Only the raw streams: the benchmark reads nothing else.
"$paxsim" --frontends 16 --mode udp --quiet --port-base "$port_base" \
    --control-port "$control_port" --off stim,lfp,spk,analog1k &
paxsim_pid=$!
trap 'kill "$paxsim_pid" 2>/dev/null || true; wait "$paxsim_pid" 2>/dev/null || true' EXIT
sleep 0.5
kill -0 "$paxsim_pid" || { echo "paxsim did not start" >&2; exit 1; }

octave-cli --norc --no-history --quiet --eval "
addpath('$mex_dir'); addpath('$floor_dir');
calls = $calls;
assert(kestmex(), 'no connection to the emulated processor');
first = kestmex('time');
% The rings hold 5.12 s: wait until they are full.
while kestmex('time') - first < 5.3 * 30000
  pause(0.25);
end
[data, start] = kestmex('cont', 1:512, 5120, 'raw');
% Front ends whose newest sample is a tick behind the first one's give a column less.
assert(size(data, 1) == 512 && size(data, 2) >= 153500, 'cont returned %d x %d', size(data, 1), ...
       size(data, 2));
assert(nnz(isnan(data)) < 512 * 100, 'cont returned too many NaN');
clear data;
values = floor_mex(512, 153600);
clear values;
contTimes = zeros(1, calls);
floorTimes = zeros(1, calls);
for i = 1:calls
  tic; data = kestmex('cont', 1:512, 5120, 'raw'); contTimes(i) = toc; clear data;
  tic; values = floor_mex(512, 153600); floorTimes(i) = toc; clear values;
end
kestmex('close');
printf('cont  (512 x 153600): median %.1f ms, min %.1f ms over %d calls\n', ...
       1000 * median(contTimes), 1000 * min(contTimes), calls);
printf('floor (512 x 153600): median %.1f ms, min %.1f ms over %d calls\n', ...
       1000 * median(floorTimes), 1000 * min(floorTimes), calls);
printf('cont/floor ratio: %.2f\n', median(contTimes) / median(floorTimes));
"
