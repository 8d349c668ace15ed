#!/usr/bin/env bash
# Soak: paxsim at full load (16 front ends x 32 channels, raw at 30 kHz) on loopback for
# SOAK_SECONDS (600), a reader (bench/soak/soak_reader) that reads the whole window of all
# 512 electrodes every 100 ms and closes and opens its connection SOAK_CYCLES (100) times,
# and SOAK_RESTARTS (20) processor restarts through paxsim's control channel spread over the
# run. Prints the reader's resident memory, threads and descriptors at the start and the end,
# and paxsim's counters. Not part of the test command.
#
# Usage: bench/soak.sh [build directory, default build/default]
#   SOAK_SECONDS, SOAK_CYCLES, SOAK_RESTARTS, SOAK_MODE (udp|tcp, udp),
#   SOAK_WINDOW (samples per electrode read, 153600: the whole 5.12 s ring)
# Needs paxsim_app and soak_reader built: cmake --build --preset default --target paxsim_app
# soak_reader
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Everything runs in a private loopback-only network namespace.
if [ -z "${KEST_SOAK_IN_NETNS:-}" ]; then
    export KEST_SOAK_IN_NETNS=1
    exec "$root/scripts/in-netns.sh" "$0" "$@"
fi
source "$root/scripts/kest-env.sh"

build="${1:-$root/build/default}"
seconds="${SOAK_SECONDS:-600}"
cycles="${SOAK_CYCLES:-100}"
restarts="${SOAK_RESTARTS:-20}"
mode="${SOAK_MODE:-udp}"
window="${SOAK_WINDOW:-153600}"
paxsim="$build/emulator/paxsim"
reader="$build/bench/soak/soak_reader"
for piece in "$paxsim" "$reader"; do
    [ -x "$piece" ] || { echo "missing: $piece (build paxsim_app and soak_reader)" >&2; exit 1; }
done

port_base=$((KEST_PORT_BASE + 900))
control_port=$((port_base + 10))
export KEST_PORT_BASE=$port_base
"$paxsim" --frontends 16 --channels 32 --mode both --quiet --port-base "$port_base" \
    --control-port "$control_port" &
paxsim_pid=$!
reader_pid=""
warnings=""
cleanup() {
    [ -n "$warnings" ] && rm -f "$warnings"
    [ -n "$reader_pid" ] && kill "$reader_pid" 2>/dev/null || true
    kill "$paxsim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT

# One line to the control channel, its answer printed.
control() {
    local answer=""
    exec 3<>"/dev/tcp/127.0.0.1/$control_port" || return 1
    printf '%s\n' "$1" >&3
    IFS= read -r -t 10 answer <&3 || true
    exec 3>&- 3<&-
    printf '%s\n' "$answer"
}

for _ in $(seq 50); do
    control stats >/dev/null 2>&1 && break
    kill -0 "$paxsim_pid" || { echo "paxsim did not start" >&2; exit 1; }
    sleep 0.2
done

echo "soak: ${seconds} s, ${cycles} open/close cycles, ${restarts} restarts, ${mode}, window ${window}"
# The reader's warnings (a read just after an open finds rows without samples) are counted.
warnings=$(mktemp)
"$reader" "$seconds" "$cycles" "$mode" "$window" 2>"$warnings" &
reader_pid=$!

# The restarts, evenly spaced and offset from the reader's cycles.
if [ "$restarts" -gt 0 ]; then
    pause=$(awk -v s="$seconds" -v r="$restarts" 'BEGIN { printf "%.3f", s / (r + 1) }')
    sleep 2
    for i in $(seq "$restarts"); do
        sleep "$pause"
        kill -0 "$reader_pid" 2>/dev/null || break
        echo "restart $i: $(control restart)"
    done
fi
status=0
wait "$reader_pid" || status=$?
reader_pid=""
echo "reader's standard error: $(grep -c 'invalid timestamp' "$warnings" || true) \"invalid timestamp\" warnings, $(grep -vc 'invalid timestamp' "$warnings" || true) other lines"
{ grep -v 'invalid timestamp' "$warnings" || true; } | sort | uniq -c | sort -rn | head -n 10
rm -f "$warnings"
echo "paxsim: $(control stats)"
exit "$status"
