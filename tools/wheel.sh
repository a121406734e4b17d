#!/usr/bin/env bash
# The files users install, built from the CMake project of `make build` by scikit-build-core and
# checked as a user gets them. VERSION is pyproject.toml's.
#   tools/wheel.sh build       dist/morvek_board-VERSION-cp39-abi3-manylinux_2_17_x86_64.manylinux2014_x86_64.whl
#                              (make wheel)
#   tools/wheel.sh wheels      that, the same for aarch64 (cross-compiled with
#                              cmake/aarch64-linux-gnu.cmake against the Debian arm64 tree of
#                              tools/arm64_tree.sh), and dist/morvek_board-VERSION.tar.gz, each
#                              checked as below (make wheels)
# A wheel's checks: `auditwheel show` agrees with its manylinux_2_17 tag, `abi3audit --strict`
# finds nothing, and tools/check_exports.sh passes its modules, morvek_board and the walker's
# morvek_walk/_native (the init entry alone, nothing
# but the C library, no glibc symbol newer than 2.17). The files of `wheels` also pass
# `twine check --strict` as an index would take them. tools/wheel_test.sh installs them and
# tests the installed copies, with the functions of this file.
# MORVEK_BUILD_DIR (default build/): the CMake builds go to its wheel/ and wheel-aarch64/, the
# packaging tools (requirements-build.txt) and the environments to its venvs/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MORVEK_BUILD_DIR:-$root/build}
venvs=$build/venvs
dist=$root/dist
tools=$venvs/packaging
source "$root/tools/lib.sh"
source "$root/tools/tally.sh"
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$root/pyproject.toml")

# The packaging tools run under the newest CPython of this machine's own (the trees' ones
# are for testing).
prepare_tools() {
    local newest
    newest=$(interpreters_by_version | grep -v '^debian-' | tail -n 1)
    if [[ -z "$newest" ]]; then
        echo "wheel: no CPython >= 3.9 found" >&2
        return 1
    fi
    mkdir -p "$venvs"
    if ! prepare_venv "${newest#* }" "$tools" "$root/requirements-build.txt"; then
        cat "$tools.log" >&2
        return 1
    fi
}

# Without isolation the pinned backend of the tools environment builds, and the CMake build
# directory stays, so that a rebuild compiles only what changed. Without the dependency check,
# a machine without ninja builds with make instead of asking for ninja's package. The backend
# would take CMAKE_ARGS from the environment (make passes its own on), and a sanitizer option
# there would make a wheel that no plain interpreter loads.
run_build() {
    local log=$1
    shift
    if ! env -u CMAKE_ARGS "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "wheel: the build failed (whole log: $log)" >&2
        return 1
    fi
}

# Sets `wheel` to dist/'s wheel for ARCH. scikit-build-core tags it for the build machine
# (linux_ARCH); auditwheel then tags it for the oldest policy its module keeps to, which must be
# manylinux_2_17 alias manylinux2014, and the file takes that tag set's usual order.
build_wheel() {
    local arch=$1 raw=$build/wheelhouse-$1 defines=()
    if [[ "$arch" == aarch64 ]]; then
        local cache
        cache=$("$root/tools/arm64_tree.sh" | tail -n 1) || return 1
        defines=(-C "cmake.define.CMAKE_TOOLCHAIN_FILE=$root/cmake/aarch64-linux-gnu.cmake"
                 -C "cmake.define.MORVEK_ARM64_SYSROOT=$cache/root")
    fi
    local build_dir=$build/wheel
    [[ "$arch" == x86_64 ]] || build_dir=$build/wheel-$arch
    rm -rf "$raw" && mkdir -p "$raw" "$dist" || return 1
    rm -f "$dist"/morvek_board-*_"$arch".whl
    run_build "$build/wheel-$arch.log" _PYTHON_HOST_PLATFORM="linux-$arch" \
        "$tools/bin/python" -m build --wheel --no-isolation --skip-dependency-check \
        --outdir "$raw" -C build-dir="$build_dir" "${defines[@]}" "$root" || return 1
    # "auto": the most widely usable policy the module keeps to, for its architecture.
    PATH=$tools/bin:$PATH "$tools/bin/auditwheel" repair --plat auto -w "$raw/repaired" \
        "$raw"/morvek_board-*.whl >"$build/auditwheel-$arch.log" 2>&1 || {
        cat "$build/auditwheel-$arch.log" >&2
        return 1
    }
    local repaired
    repaired=$(basename "$(ls "$raw"/repaired/morvek_board-*.whl)")
    if [[ "$repaired" != "morvek_board-$version-cp39-abi3-manylinux2014_$arch.manylinux_2_17_$arch.whl" ]]; then
        echo "wheel: auditwheel tags the $arch wheel $repaired, not manylinux_2_17/manylinux2014" >&2
        return 1
    fi
    wheel=$dist/morvek_board-$version-cp39-abi3-manylinux_2_17_$arch.manylinux2014_$arch.whl
    mv "$raw/repaired/$repaired" "$wheel" || return 1
    echo "wheel: built $wheel ($(grep -m1 'CPython headers' "$build/wheel-$arch.log" | sed 's/.*headers /headers /'))"
}

check_wheel() {
    local wheel=$1 arch=$2 shown status=0
    echo "=== checks of $(basename "$wheel")"
    shown=$(PATH=$tools/bin:$PATH "$tools/bin/auditwheel" show "$wheel" 2>/dev/null)
    echo "$shown" | sed '/^$/d; s/^/    /'
    if ! tr '\n' ' ' <<<"$shown" | grep -q "consistent with the following platform tag: \"manylinux_2_17_$arch\""; then
        echo "wheel: auditwheel does not find $(basename "$wheel") consistent with manylinux_2_17_$arch" >&2
        status=1
    fi
    NO_COLOR=1 "$tools/bin/abi3audit" --strict --summary "$wheel" | sed 's/^/    /'
    ((PIPESTATUS[0] == 0)) || status=1
    local unpacked
    unpacked=$(mktemp -d)
    "$tools/bin/python" -m zipfile -e "$wheel" "$unpacked" &&
        "$root/tools/check_exports.sh" "$unpacked/morvek_board.abi3.so" \
            "$unpacked/morvek_walk/_native.abi3.so" | sed 's/^/    /'
    ((PIPESTATUS[0] == 0)) || status=1
    rm -rf "$unpacked"
    return $status
}

# The sdist holds what `pip install` of it needs (pyproject.toml says which files) and nothing
# else; the build tree and test files would only add bulk.
build_sdist() {
    sdist=$dist/morvek_board-$version.tar.gz
    rm -f "$sdist"
    run_build "$build/sdist.log" "$tools/bin/python" -m build --sdist --no-isolation \
        --skip-dependency-check --outdir "$dist" "$root" || return 1
    local unexpected
    unexpected=$(tar -tzf "$sdist" | sed "s|^morvek_board-$version/||" |
        grep -v -E '^$|^PKG-INFO$|^(pyproject\.toml|CMakeLists\.txt|README\.md|LICENSE|morvek_board\.pyi)$|^(chess|src|walk|cmake|morvek_walk)/' || true)
    if [[ -n "$unexpected" ]]; then
        echo "wheel: the sdist holds more than the build needs:" $unexpected >&2
        return 1
    fi
    echo "wheel: built $sdist ($(tar -tzf "$sdist" | grep -c -v '/$') files)"
}

# What an index checks on upload: each file's metadata, and README.md rendered as the
# package's page (a warning fails too).
check_upload() {
    echo "=== twine check --strict of $(basename -a "$@" | tr '\n' ' ')"
    # twine colours its verdicts even off a terminal.
    "$tools/bin/twine" check --strict "$@" 2>&1 | sed 's/\x1b\[[0-9;]*m//g; s/^/    /'
    return "${PIPESTATUS[0]}"
}

# Sourced by tools/wheel_test.sh for its functions alone.
[[ "${BASH_SOURCE[0]}" == "$0" ]] || return 0

case "${1:-}" in
    build)
        prepare_tools && build_wheel x86_64
        ;;
    wheels)
        prepare_tools || exit 1
        status=0
        for arch in x86_64 aarch64; do
            build_wheel "$arch" && check_wheel "$wheel" "$arch" || status=1
        done
        build_sdist || status=1
        check_upload "$dist"/morvek_board-"$version"{-*.whl,.tar.gz} || status=1
        ls -l "$dist"
        exit $status
        ;;
    *)
        awk 'NR > 1 { if (!/^#/) exit; print }' "$0" >&2
        exit 2
        ;;
esac
