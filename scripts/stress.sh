#!/usr/bin/env bash
# The rounds of `scripts/test.sh --stress N` (run it through test.sh, which installs what is
# missing). Builds the tsan and default presets, starts one CPU hog per core (killed again on
# any exit), then N times runs the integration and threaded tests under ThreadSanitizer and
# the Octave tests with the default build's module (Octave cannot load a module built with
# ThreadSanitizer), one test per core at once. Reports every test that ever failed, with the
# rounds it failed in, and exits non-zero if any did. Each round's output is kept in build/stress/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
source "$root/scripts/kest-env.sh"

rounds=${1:?usage: scripts/stress.sh ROUNDS}
logs="$root/build/stress"

for preset in tsan default; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
rm -rf "$logs"
mkdir -p "$logs"

hogs=()
stop_hogs() {
    for pid in "${hogs[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${hogs[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    hogs=()
}
trap stop_hogs EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cores=$(nproc)
for _ in $(seq "$cores"); do
    bash -c 'while :; do :; done' &
    hogs+=("$!")
done
echo "== $cores CPU hogs running (pids ${hogs[*]})"
# One test per core at once, beside the hogs: more would measure how the tests share a
# starved machine rather than whether each copes with a loaded one.
jobs=$cores

declare -A failed_in=()
runs=0
# run_tests <round> <preset> <labels>: one ctest run; its failures are added to failed_in.
run_tests() {
    local round=$1 preset=$2 labels=$3
    local log="$logs/round-$round-$preset.log"
    local list="build/$preset/Testing/Temporary/LastTestsFailed.log"
    rm -f "$list"
    local status=0
    "$root/scripts/in-netns.sh" ctest --preset "$preset" -j "$jobs" -L "$labels" >"$log" 2>&1 ||
        status=$?
    grep -E 'tests passed|No tests were found' "$log" | sed "s/^/-- round $round, $preset ($labels): /" || true
    runs=$((runs + 1))
    if [ -f "$list" ]; then
        while IFS= read -r line; do
            local name=${line#*:}
            failed_in[$name]+=" $round"
        done <"$list"
    elif [ "$status" -ne 0 ]; then
        failed_in["ctest $preset ($labels) itself, exit $status"]+=" $round"
    fi
}

for round in $(seq "$rounds"); do
    echo "== stress round $round of $rounds"
    run_tests "$round" tsan 'integration|threads'
    run_tests "$round" default octave
done
stop_hogs

if [ ${#failed_in[@]} -eq 0 ]; then
    echo "== stress: $rounds rounds, no test failed"
    exit 0
fi
echo "== stress: $rounds rounds; tests that failed (rounds; logs in build/stress):"
for name in "${!failed_in[@]}"; do
    echo "   $name:${failed_in[$name]}"
done | sort
exit 1
