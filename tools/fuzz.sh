#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs them, one after another.
#   tools/fuzz.sh build
#   tools/fuzz.sh run SECONDS [TARGET...]    fuzz each target (default: all) for SECONDS
#   tools/fuzz.sh smoke SECONDS              the seed corpora, then SECONDS of fuzzing each,
#                                            keeping no new inputs
# MORVEK_FUZZ_DIR: the build directory (default build-fuzz/); MORVEK_FUZZ_CXX: the compiler
# (default: the newest clang++ on the machine that can build a fuzzer from this code).
# A long run grows the corpus in $MORVEK_FUZZ_DIR/corpus/TARGET (the seeds in fuzz/corpus stay
# as they are) and leaves crashing inputs in $MORVEK_FUZZ_DIR/artifacts/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVEK_FUZZ_DIR:-$root/build-fuzz}
targets=(fen uci_move normalize_san services walk fen_baseline fen_avx2)

# A compiler fits when it links a C++20 fuzzer with both sanitizers: clang, with the libFuzzer
# and sanitizer runtimes installed, which Debian packages apart from the compiler.
compiler_works() {
    local probe
    probe=$(mktemp -d)
    cat >"$probe/probe.cpp" <<'CPP'
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t size) { return size > 1 << 30; }
CPP
    "$1" -std=c++20 -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
        >/dev/null 2>&1
    local status=$?
    rm -rf "$probe"
    return $status
}

find_compiler() {
    local candidate
    if [[ -n "${MORVEK_FUZZ_CXX:-}" ]]; then
        echo "$MORVEK_FUZZ_CXX"
        return
    fi
    local versions
    versions=$(compgen -c clang++- | grep -E '^clang\+\+-[0-9]+$' | sort -t- -k2 -rn | uniq)
    for candidate in $versions clang++; do
        if command -v "$candidate" >/dev/null && compiler_works "$candidate"; then
            echo "$candidate"
            return
        fi
    done
}

build() {
    local cxx
    cxx=$(find_compiler)
    if [[ -z "$cxx" ]]; then
        # 19 is packaged by Debian 12 and 13, its runtimes included.
        "$root/tools/deps.sh" clang-19 libclang-rt-19-dev
        cxx=$(find_compiler)
    fi
    if [[ -z "$cxx" ]]; then
        echo "fuzz: no clang++ that builds a fuzzer from this code" >&2
        exit 1
    fi
    cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
    cmake --build "$build" -j"${JOBS:-2}"
}

# Runs one target; the first corpus directory given to libFuzzer is the one it writes to.
run_target() {
    local target=$1 seconds=$2 keep=$3
    local seeds=$root/fuzz/corpus/$target corpus
    if ((keep)); then
        corpus=$build/corpus/$target
    else
        corpus=$(mktemp -d)
    fi
    mkdir -p "$corpus" "$build/artifacts"
    local log=$build/$target.log
    # A target's own dictionary where it has one (fuzz/TARGET.dict), else the chess texts'.
    local dictionary=$root/fuzz/$target.dict
    [[ -f "$dictionary" ]] || dictionary=$root/fuzz/chess.dict
    echo "=== fuzz_$target: ${seconds}s"
    "$build/fuzz_$target" "$corpus" "$seeds" -dict="$dictionary" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1
    local status=$?
    ((keep)) || rm -rf "$corpus"
    # The closing line: executions, coverage, corpus size, speed and memory.
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | sed 's/^/    /'
    if ((status != 0)); then
        echo "fuzz_$target FAILED (log: $log):" >&2
        grep -E -A12 'PROPERTY FAILED|ERROR: (AddressSanitizer|libFuzzer)|runtime error' "$log" |
            head -40 >&2
        return 1
    fi
}

command=${1:-}
case "$command" in
    build) build ;;
    run | smoke)
        seconds=${2:?seconds}
        shift 2
        (($#)) && targets=("$@")
        keep=0
        [[ "$command" == run ]] && keep=1
        passed=0
        failed=0
        for target in "${targets[@]}"; do
            if run_target "$target" "$seconds" "$keep"; then
                passed=$((passed + 1))
            else
                failed=$((failed + 1))
            fi
        done
        echo "fuzz: $passed passed, $failed failed"
        ((failed == 0))
        ;;
    *)
        sed -n '2,11p' "$0" >&2
        exit 2
        ;;
esac
