#!/usr/bin/env bash
# Fails when a source of the product includes a folder its layer may not use. The allowed
# directions are listed here and nowhere else; include strings are rooted at the repository
# root ("folder/File.h"). Tests, benchmarks and fuzz targets may include anything.
#
#   scripts/check-layers.sh [root]      (default: this repository)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

# layer: the folders its sources may include (itself always).
declare -A allowed=(
    [include]=""
    [protocol]=""
    [transport]="protocol"
    [cache]="protocol include"
    [stim]=""
    [client]="protocol transport cache stim include"
    [links]="protocol transport cache stim client include"
    [lib]="protocol transport cache stim client links include"
    # The command layer reaches the layers beneath through lib/ (the kl_* calls and
    # lib/CommandAccess.h); the wire formats give it its value types.
    # The stimulation encoder (stateless: parameter texts, sequence words) checks and encodes
    # what a user typed before the library sends it.
    [mex]="lib include protocol stim"
    [emulator]="protocol"
)

status=0
for layer in "${!allowed[@]}"; do
    [ -d "$root/$layer" ] || continue
    ok=" $layer ${allowed[$layer]} "
    while IFS= read -r line; do
        file=${line%%:*}
        target=$(sed -E 's/^[^"]*#include "([^"]*)".*/\1/' <<<"${line#*:}")
        folder=${target%%/*}
        [ "$folder" = "$target" ] && continue # a file beside the source, or the host's mex.h
        [ -n "${allowed[$folder]+x}" ] || continue # not one of the layers
        if [[ "$ok" != *" $folder "* ]]; then
            echo "layering: ${file#"$root"/} includes \"$target\" ($layer may not use $folder/)"
            status=1
        fi
    done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$root/$layer" \
        --include='*.h' --include='*.cpp' --include='*.c' || true)
done
exit $status
