#!/usr/bin/env bash
# The shipped build is 64-bit Arm: cross-compiles it and runs the same tests under qemu-aarch64,
# with the arm64 CPython of a Debian tree (tools/arm64_tree.sh) loading the Arm module.
#   tools/test_arm64.sh [ARM64-BUILD-DIR] [-- PYTEST-ARGS...]    default build-arm64/
# MORVEK_NATIVE_BUILD_DIR: the native build whose perft counts the Arm ones must equal
# (default build/). Every step runs even when an earlier one fails, as in `make test`.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib.sh"
split_args "$@"
build=$(realpath -m "${first_arg:-$root/build-arm64}")
pytest_args=("${rest_args[@]}")
native=$(realpath -m "${MORVEK_NATIVE_BUILD_DIR:-$root/build}")
jobs=${JOBS:-2}

cache=$("$root/tools/arm64_tree.sh" | tail -n 1) || exit 1
tree=$cache/root
python=$tree/usr/bin/python3-qemu
qemu=$(command -v qemu-aarch64 || command -v qemu-aarch64-static)

source "$root/tools/tally.sh"
record() { tally_record "$@"; }
finish() {
    tally_print arm64
    exit $((tally_failed > 0))
}

echo "=== arm64 build ($build, tree $tree)"
if ! cmake -S "$root" -B "$build" --toolchain "$root/cmake/aarch64-linux-gnu.cmake" \
    -DMORVEK_ARM64_SYSROOT="$tree" || ! cmake --build "$build" -j"$jobs"; then
    record build 1 "cross build failed"
    finish
fi
machine=$(readelf -h "$build/morvek_board.abi3.so" | sed -n 's/^ *Machine: *//p')
walk_machine=$(readelf -h "$build/morvek_walk/_native.abi3.so" | sed -n 's/^ *Machine: *//p')
[[ "$machine" == AArch64 && "$walk_machine" == AArch64 ]]
record build $? "modules for $machine"

# The C++ tests hold the perft counts and the tables' self-checks; ctest runs them under
# qemu through the toolchain file's emulator.
echo "=== arm64 C++ tests"
output=$build/ctest.txt
ctest --test-dir "$build" --output-on-failure -j"$jobs" 2>&1 | tee "$output"
record cpp "${PIPESTATUS[0]}" "$(grep -E 'tests passed|tests failed' "$output" | tail -n 1)"

echo "=== arm64 exports"
output=$("$root/tools/check_exports.sh" "$build/morvek_board.abi3.so" \
    "$build/morvek_walk/_native.abi3.so" 2>&1)
status=$?
echo "$output"
record exports "$status" "$(tail -n 1 <<<"$output")"
output=$("$root/tools/check_runtime.sh" "$build/morvek_board.link-map" \
    "$build/morvek_walk_module.link-map" 2>&1)
status=$?
echo "$output"
record runtime "$status" "$(tail -n 1 <<<"$output")"

# Every position of the perft table, move by move at depth 5, against the native build.
echo "=== arm64 perft against $native/perft"
status=0
positions=0
if [[ ! -x "$native/perft" ]]; then
    echo "no native perft in $native: run make build first" >&2
    status=1
else
    while read -r fen; do
        positions=$((positions + 1))
        # The last line also holds the time taken, which differs.
        expected=$("$native/perft" --divide 5 "$fen" </dev/null | sed -E 's/ time .*//')
        got=$("$qemu" -L "$tree" "$build/perft" --divide 5 "$fen" </dev/null | sed -E 's/ time .*//')
        if [[ -z "$expected" || "$expected" != "$got" ]]; then
            echo "perft 5 differs for $fen" >&2
            diff <(echo "$expected") <(echo "$got") >&2
            status=1
        fi
    done < <(grep -v '^#' "$root/tests/data/perft.txt" | cut -d'|' -f1 | sed 's/ *$//' | sort -u)
    echo "perft 5 of $positions positions compared"
fi
record perft "$status" "depth 5, $positions positions, move by move"

# The tree's CPython sees only the tree and the pinned test tools, not the machine's own packages.
echo "=== arm64 pytest ($python)"
output=$build/pytest.txt
(cd "$root" && env -u PYTHONHOME -u MORVEK_INSTALLED PYTHONNOUSERSITE=1 PYTHONPATH="$cache/site" \
    MORVEK_BUILD_DIR="$build" "$python" -m pytest -q -p no:cacheprovider \
    "${pytest_args[@]}" "$root/tests/python") 2>&1 | tee "$output"
record pytest "${PIPESTATUS[0]}" "$(grep -E ' (passed|failed|errors?)( |,|$)' "$output" | tail -n 1)"

finish
