#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the processor emulator on
# loopback and runs the Octave demo against it (where the MEX module and the demo exist),
# then stops the emulator. Everything runs in a private loopback-only network namespace
# when the machine allows one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/deps.sh"
source "$root/scripts/kest-env.sh"
cmake --preset default >/dev/null
cmake --build --preset default
exec "$root/scripts/in-netns.sh" "$root/scripts/demo-job.sh"
