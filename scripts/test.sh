#!/usr/bin/env bash
# Installs what is missing, builds and runs every test twice: a GCC build and a clang
# build with AddressSanitizer + UndefinedBehaviorSanitizer; the threaded tests once more
# under ThreadSanitizer; then each fuzz target for a bounded time.
#
# scripts/test.sh --stress N: builds the tsan and default presets, keeps every core busy with
# a CPU hog, and runs the integration and threaded tests under ThreadSanitizer and the
# Octave tests (the default build's module: Octave cannot load a ThreadSanitizer module) N
# times; reports each test that ever failed and fails if any did.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

stress_rounds=0
if [ $# -gt 0 ]; then
    if [ "$1" = "--stress" ] && [ $# -eq 2 ] && [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
        stress_rounds=$2
    else
        echo "usage: scripts/test.sh [--stress ROUNDS]" >&2
        exit 2
    fi
fi

"$root/scripts/deps.sh"
source "$root/scripts/kest-env.sh"

if [ "$stress_rounds" -gt 0 ]; then
    exec "$root/scripts/stress.sh" "$stress_rounds"
fi

echo "== format check"
git ls-files '*.cpp' '*.h' '*.c' | xargs -r clang-format --dry-run --Werror

echo "== layering check"
"$root/scripts/check-layers.sh"

run_preset() {
    local preset=$1
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    echo "== $preset tests"
    "$root/scripts/in-netns.sh" ctest --preset "$preset"
}

run_preset default
run_preset asan
if [ -n "$(ctest --test-dir build/asan -N -L 'integration|threads' 2>/dev/null | grep 'Total Tests: [1-9]')" ]; then
    run_preset tsan
fi

echo "== fuzzing (${KEST_FUZZ_SECONDS:=60} s per target)"
mkdir -p build/asan/fuzz-artifacts
for fuzzer in build/asan/fuzz/*/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus="build/asan/fuzz-corpus/$name"
    seeds="fuzz/$(basename "$(dirname "$fuzzer")")/corpus"
    mkdir -p "$corpus"
    [ -d "$seeds" ] || seeds=""
    log="build/asan/fuzz-artifacts/$name.log"
    # The targets' own output is closed; libFuzzer and the sanitizers still report.
    if "$fuzzer" -max_total_time="$KEST_FUZZ_SECONDS" -close_fd_mask=3 \
        -artifact_prefix=build/asan/fuzz-artifacts/ \
        "$corpus" $seeds >"$log" 2>&1; then
        echo "-- $name: $(grep -Eo '#[0-9]+[[:space:]]+DONE.*' "$log" | tail -n 1)"
    else
        tail -n 60 "$log"
        echo "$name found a failure (input saved in build/asan/fuzz-artifacts)"
        exit 1
    fi
done
echo "== all tests passed"
