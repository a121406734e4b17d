#!/usr/bin/env bash
# The module must export its init entry and nothing else, and must not link libpython: the
# interpreter that loads it provides those symbols.
set -euo pipefail

module=${1:-build/morvek_board.abi3.so}
exported=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort -u)
if [[ "$exported" != "PyInit_morvek_board" ]]; then
    echo "exports: $module exports more than PyInit_morvek_board:" >&2
    echo "$exported" >&2
    exit 1
fi
if readelf -d "$module" | grep -q 'NEEDED.*libpython'; then
    echo "exports: $module links libpython" >&2
    exit 1
fi
echo "exports: PyInit_morvek_board only, no libpython"
