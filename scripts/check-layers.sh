#!/usr/bin/env bash
# Fails when a source of the product includes a folder its layer may not use. The allowed
# directions are listed in cmake/layers.txt and nowhere else; include strings are rooted at
# the repository root ("folder/File.h"). Tests, benchmarks and fuzz targets may include
# anything.
#
#   scripts/check-layers.sh [root]      (default: this repository)
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"

# layer: the folders (or single files) its sources may include (itself always), from
# cmake/layers.txt.
declare -A allowed=()
while IFS= read -r line; do
    line=${line%%#*}
    [[ "$line" == *:* ]] || continue
    layer=$(tr -d '[:space:]' <<<"${line%%:*}")
    allowed[$layer]=$(xargs <<<"${line#*:}")
done <"$root/cmake/layers.txt"

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
        if [[ "$ok" != *" $folder "* && "$ok" != *" $target "* ]]; then
            echo "layering: ${file#"$root"/} includes \"$target\" ($layer may not use $folder/)"
            status=1
        fi
    done < <(grep -rHE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$root/$layer" \
        --include='*.h' --include='*.cpp' --include='*.c' || true)
done
exit $status
