#!/bin/sh
# Compares the functions the shared library exports with the functions the
# public header declares (its QN_API lines, or those of the export macro and
# prefix given). Any difference fails.
set -eu
lib=$1
header=$2
api=${3:-QN_API}
prefix=${4:-qn_}
tmp=${TMPDIR:-/tmp}/qn-exports.$$
trap 'rm -f "$tmp".*' EXIT

# Every defined dynamic symbol except the version node itself (type A).
nm -D --defined-only "$lib" | awk '$2 != "A" { sub(/@.*/, "", $3); print $3 }' | sort -u >"$tmp.exported"
grep -E "^$api " "$header" | grep -oE "${prefix}[a-z0-9_]+\(" | tr -d '(' | sort -u >"$tmp.declared"

if ! cmp -s "$tmp.exported" "$tmp.declared"; then
    echo "exported (<) and declared (>) functions differ:"
    diff "$tmp.exported" "$tmp.declared" || true
    exit 1
fi
echo "$(wc -l <"$tmp.declared") functions exported, exactly those of the header"
