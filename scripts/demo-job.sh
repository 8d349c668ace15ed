#!/usr/bin/env bash
# Starts paxsim (4 front ends, real-time data, some spikes) on loopback, runs the demo in
# Octave when the MEX module and the demo are built, and stops the emulator again. The demo
# draws what it read into $KEST_DEMO_PNG (build/default/demo.png unless set; set it to
# docs/demo.png to refresh the README's picture) and prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source "$root/scripts/kest-env.sh"
paxsim="build/default/emulator/paxsim"
mex_dir="build/default/mex"
export KEST_DEMO_PNG="${KEST_DEMO_PNG:-$root/build/default/demo.png}"
case "$KEST_DEMO_PNG" in /*) ;; *) KEST_DEMO_PNG="$root/$KEST_DEMO_PNG" ;; esac

"$paxsim" --frontends 4 --mode udp --spike-rate 5 --seconds 0 --quiet &
paxsim_pid=$!
trap 'kill "$paxsim_pid" 2>/dev/null || true; wait "$paxsim_pid" 2>/dev/null || true' EXIT
sleep 0.5
kill -0 "$paxsim_pid" || { echo "paxsim did not start" >&2; exit 1; }
echo "paxsim runs on ${KEST_WIRED_NET}.1 (port base ${KEST_PORT_BASE}) with 4 front ends"

if [ -f "$mex_dir/kestmex.mex" ] && [ -f examples/demo.m ] && command -v octave-cli >/dev/null; then
    octave-cli --quiet --norc --no-history \
        --eval "addpath('$root/$mex_dir'); run('$root/examples/demo.m');"
else
    for piece in "$mex_dir/kestmex.mex:the kestmex MEX module" "examples/demo.m:the Octave demo"; do
        [ -e "${piece%%:*}" ] || echo "not there yet: ${piece#*:}"
    done
    sleep 2
fi
