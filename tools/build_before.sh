#!/usr/bin/env bash
# Builds the module as it stood at a commit, for the benchmark to time the working tree against,
# and prints the built file's path. Each commit is built once, under DIR/HASH.
#   tools/build_before.sh REF DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
ref=$1
dir=$2
hash=$(git -C "$root" rev-parse --verify --quiet "$ref^{commit}") || {
    echo "build_before: no commit $ref" >&2
    exit 2
}
out=$dir/$hash
module=$out/build/morvek_board.abi3.so
if [[ ! -f "$module" ]]; then
    rm -rf "$out"
    mkdir -p "$out/source"
    git -C "$root" archive "$hash" | tar -x -C "$out/source"
    {
        cmake -S "$out/source" -B "$out/build" -DCMAKE_BUILD_TYPE=Release -DMORVEK_DEVELOPMENT=OFF &&
            cmake --build "$out/build" -j"${JOBS:-2}" --target morvek_board
    } >"$out/build.log" 2>&1 || {
        tail -n 20 "$out/build.log" >&2
        echo "build_before: $ref did not build (log: $out/build.log)" >&2
        exit 1
    }
fi
echo "$module"
