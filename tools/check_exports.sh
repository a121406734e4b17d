#!/usr/bin/env bash
# An extension module (morvek_board, or the walker's morvek_walk/_native) must export its init
# entry, named after the file (PyInit_morvek_board, PyInit__native), and nothing else, must not
# link libpython (the interpreter that loads it provides those symbols), and must need nothing
# at run time but the C library: its dynamic section names libc.so.6 (and libm.so.6) alone, and
# no symbol it takes from glibc is newer than 2.17, the oldest glibc of manylinux2014. readelf
# reads either architecture.
#   tools/check_exports.sh [MODULE...]    (default: build/morvek_board.abi3.so)
set -euo pipefail

if (($# > 1)); then
    status=0
    for module in "$@"; do
        "$0" "$module" || status=1
    done
    exit $status
fi

module=${1:-build/morvek_board.abi3.so}
name=$(basename "$module")
init=PyInit_${name%%.*}
glibc_floor=2.17
status=0

exported=$(readelf --dyn-syms -W "$module" |
    awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $5 != "LOCAL" && $8 != "" { sub(/@.*/, "", $8); print $8 }' | sort -u)
if [[ "$exported" != "$init" ]]; then
    echo "exports: $module exports more than $init:" >&2
    echo "$exported" >&2
    status=1
fi

needed=$(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
others=$(grep -v -x -e libc.so.6 -e libm.so.6 <<<"$needed" || true)
if [[ -n "$others" ]]; then
    echo "exports: $module needs more than the C library:" $others >&2
    status=1
fi

newer=$(readelf --dyn-syms -W "$module" |
    awk -v floor="$glibc_floor" '
        { if (!match($8, /@GLIBC_[0-9.]+/)) next
          name = substr($8, 1, RSTART - 1); version = substr($8, RSTART + 7, RLENGTH - 7)
          split(version, v, "."); split(floor, f, ".")
          if (v[1] > f[1] || (v[1] == f[1] && v[2] + 0 > f[2] + 0)) print name "@GLIBC_" version }' |
    sort -u)
if [[ -n "$newer" ]]; then
    echo "exports: $module needs glibc symbols newer than $glibc_floor:" $newer >&2
    status=1
fi

((status == 0)) || exit 1
newest=$(readelf --dyn-syms -W "$module" | grep -o '@GLIBC_[0-9.]*' | sed 's/@GLIBC_//' | sort -uV |
    tail -n 1)
echo "exports: $init only from $name; needs $(echo $needed | sed 's/ /, /g') alone, glibc symbols up to ${newest:-none} (floor $glibc_floor)"
