#!/usr/bin/env bash
# The main job: installs what is missing and builds everything. Starting the processor
# emulator on loopback and running the Octave demo against it come with the emulator and
# the MEX module; until they exist this says what is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
"$root/scripts/deps.sh"
source "$root/scripts/kest-env.sh"
cmake --preset default >/dev/null
cmake --build --preset default
for piece in "build/default/emulator/paxsim:the processor emulator (paxsim)" \
             "examples/demo.m:the Octave demo"; do
    [ -e "${piece%%:*}" ] || echo "not there yet: ${piece#*:}"
done
