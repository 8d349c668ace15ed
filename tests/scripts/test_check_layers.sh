#!/usr/bin/env bash
# The layering check passes on the tree as it is and fails, naming the file, on a copy with
# one wrong-way include planted (cache/ using lib/), and on one with stim/ using client/. With
# the build's layer views and a compiler given, the compiler refuses a wrong-way include too.
set -euo pipefail
root="$1"
views="${2:-}"
compiler="${3:-}"
check="$root/scripts/check-layers.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$check" "$root" || { echo "the tree itself fails the check"; exit 1; }

plant() { # plant <name> <file> <include>: copy of the product folders with one include added
    local copy="$work/$1"
    mkdir -p "$copy"
    for dir in include protocol transport cache stim client links lib mex emulator cmake; do
        cp -r "$root/$dir" "$copy/"
    done
    printf '#include "%s"\n' "$3" >>"$copy/$2"
    echo "$copy"
}

expect_failure() { # expect_failure <copy> <text the report must carry>
    local out
    if out=$("$check" "$1"); then
        echo "planted include not caught in $1"
        exit 1
    fi
    grep -qF "$2" <<<"$out" || { echo "report lacks '$2': $out"; exit 1; }
}

copy=$(plant upward cache/KestCacheEvents.cpp lib/LibraryGuard.h)
expect_failure "$copy" 'cache/KestCacheEvents.cpp includes "lib/LibraryGuard.h"'

copy=$(plant stim_client stim/StimSeq.h client/KestClient.h)
expect_failure "$copy" 'stim/StimSeq.h includes "client/KestClient.h"'

copy=$(plant mex_cache mex/KestMexFcn/Time.cpp cache/KestCache.h)
expect_failure "$copy" '(mex may not use cache/)'

if [ -n "$views" ]; then
    compiles() { # compiles <layer> <include>
        printf '#include "%s"\n' "$2" | "$compiler" -std=c++17 -fsyntax-only -x c++ \
            -I "$views/$1" - 2>/dev/null
    }
    compiles cache cache/KestCache.h || { echo "cache's view lacks its own headers"; exit 1; }
    compiles mex lib/CommandAccess.h || { echo "the command layer's seam does not compile"; exit 1; }
    ! compiles cache lib/LibraryGuard.h || { echo "cache's view shows lib/"; exit 1; }
    ! compiles mex cache/KestCache.h || { echo "the command layer's view shows the cache"; exit 1; }
fi
echo "layering check: clean tree passes, planted includes fail"
