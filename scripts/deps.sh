#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev clang-format libgtest-dev libgmock-dev
          libbenchmark-dev iproute2 util-linux python3 octave liboctave-dev)
# The Python binding and its tests, the plotting example, and Octave's headless plots (with
# the font Octave draws its text in).
packages+=(python3-numpy python3-pytest python3-matplotlib gnuplot-nox fonts-freefont-otf)
# The install test builds a C program against the installed package through pkg-config.
packages+=(pkg-config)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
