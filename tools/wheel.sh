#!/usr/bin/env bash
# The files users install, built from the CMake project of `make build` by scikit-build-core and
# checked as a user gets them. VERSION is pyproject.toml's.
#   tools/wheel.sh build       dist/morvek_board-VERSION-cp39-abi3-manylinux_2_17_x86_64.manylinux2014_x86_64.whl
#                              (make wheel)
#   tools/wheel.sh wheels      that, the same for aarch64 (cross-compiled with
#                              cmake/aarch64-linux-gnu.cmake against the Debian arm64 tree of
#                              tools/arm64_tree.sh), and dist/morvek_board-VERSION.tar.gz, each
#                              checked as below (make wheels)
#   tools/wheel.sh test        the x86_64 wheel checked, installed into a virtual environment of
#                              every CPython >= 3.9 with the example run there, tests/python
#                              against the installed copy under the oldest and the newest, the
#                              example in a tree with CPython and no C++ runtime; the sdist
#                              checked and installed into a fresh environment (make test-wheel)
#   tools/wheel.sh test-arm64  the aarch64 wheel checked, installed into a virtual environment of
#                              the arm64 tree's CPython under qemu-aarch64 with tests/python run
#                              against it, and the example in a bare arm64 tree (make test-arm64)
# A wheel's checks: `auditwheel show` agrees with its manylinux_2_17 tag, `abi3audit --strict`
# finds nothing, and tools/check_exports.sh passes its module (the init entry alone, nothing
# but the C library, no glibc symbol newer than 2.17). The files of `wheels`, and the x86_64
# wheel and the sdist of `test`, also pass `twine check --strict` as an index would take them.
# MORVEK_BUILD_DIR (default build/): the CMake builds go to its wheel/ and wheel-aarch64/, the
# packaging tools (requirements-build.txt) and the environments to its venvs/.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
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
        "$root/tools/check_exports.sh" "$unpacked/morvek_board.abi3.so" | sed 's/^/    /'
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
        grep -v -E '^$|^PKG-INFO$|^(pyproject\.toml|CMakeLists\.txt|README\.md|LICENSE|morvek_board\.pyi)$|^(chess|src|cmake)/' || true)
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

# Plain `pip install` of the sdist into a fresh environment: pip fetches the build backend
# itself, as it would for a user, and builds the module from source.
test_sdist() {
    local line python venv=$venvs/sdist output=$venvs/sdist.txt status
    line=$(interpreters_by_version | grep -v '^debian-' | tail -n 1)
    python=${line#* }
    echo "=== ${line%% *}: pip install of $(basename "$sdist") into a fresh environment"
    rm -rf "$venv"
    if ! prepare_venv "$python" "$venv" ||
        ! env -u CMAKE_ARGS "$venv/bin/python" -m pip install -q "$sdist" >>"$venv.log" 2>&1; then
        tail -n 40 "$venv.log" >&2
        tally_record sdist 1 "pip install $(basename "$sdist") failed (log: $venv.log)"
        return
    fi
    "$venv/bin/python" "$root/examples/quick_tour.py" >"$output" 2>&1
    status=$?
    ((status == 0)) || cat "$output"
    tally_record sdist "$status" "installed from source, the example ran: exit status $status"
}

# Runs the example and, when FULL, tests/python against the copy installed in VENV, from the
# environment's own directory: neither a built module nor the repository's chess/ (which
# would shadow python-chess) lies there. Extra words: environment settings (NAME=VALUE) for
# pytest, then `--` and pytest arguments.
run_installed() {
    local name=$1 venv=$2 full=$3
    shift 3
    local settings=()
    while (($#)) && [[ "$1" != "--" ]]; do
        settings+=("$1")
        shift
    done
    [[ "${1:-}" == "--" ]] && shift
    local output=$venvs/wheel-$name.txt status
    # The script's own directory is the only addition to the path, so the module can only
    # come from the environment.
    "$venv/bin/python" "$root/examples/quick_tour.py" >"$output" 2>&1
    status=$?
    ((status == 0)) || cat "$output"
    echo "example ran: exit status $status" >>"$output"
    if ((full && status == 0)); then
        (cd "$venv" && env -u PYTHONHOME MORVEK_INSTALLED=1 "${settings[@]}" "$venv/bin/python" \
            -m pytest -q -p no:cacheprovider "$@" "$root/tests/python") 2>&1 | tee "$output"
        status=${PIPESTATUS[0]}
    fi
    tally_record "$name" "$status" "$(grep -v '^\s*$' "$output" | tail -n 1)"
}

install_wheel() {
    local name=$1 python=$2 venv=$3
    shift 3
    if ! prepare_venv "$python" "$venv" "$@" ||
        ! "$venv/bin/python" -m pip install -q --force-reinstall --no-deps --no-index "$wheel" \
            >>"$venv.log" 2>&1; then
        cat "$venv.log" >&2
        tally_record "$name" 1 "cannot install the wheel into $venv"
        return 1
    fi
}

test_installed_x86_64() {
    local -a lines requirements
    local oldest newest line name python venv full what
    mapfile -t lines < <(interpreters_by_version)
    oldest=${lines[0]%% *}
    newest=${lines[-1]%% *}
    for line in "${lines[@]}"; do
        name=${line%% *}
        python=${line#* }
        venv=$venvs/wheel-$name
        full=0 requirements=() what="the example"
        if [[ "$name" == "$oldest" || "$name" == "$newest" ]]; then
            full=1 what="the example and tests/python"
            requirements=("$root/requirements-test.txt" "$root/requirements-typing.txt")
        fi
        echo "=== $name ($python): the installed wheel, $what"
        install_wheel "$name" "$python" "$venv" "${requirements[@]}" || continue
        run_installed "$name" "$venv" "$full"
    done
}

# A tree with CPython and no C++ runtime, as a slim image has: the wheel installed with the
# tree's own pip into an environment inside it. On x86_64 it runs chrooted, so that nothing of
# this machine can stand in for what the tree lacks; qemu-aarch64 finds nothing for Arm here.
test_bare_tree() {
    local arch=$1 tree python runner=()
    if [[ "$arch" == x86_64 ]]; then
        tree=$("$root/tools/sid_tree.sh" | tail -n 1)/root || return 1
        python=/usr/bin/python3.14
        runner=(chroot "$tree")
    else
        tree=$("$root/tools/arm64_tree.sh" bare | tail -n 1)/root || return 1
        python=$tree/usr/bin/python3-qemu
    fi
    local name=bare-$arch
    echo "=== $name ($tree): the installed wheel in a tree without a C++ runtime"
    local found
    found=$(find "$tree" -name 'libstdc++.so*' -print -quit)
    if [[ -n "$found" ]]; then
        tally_record "$name" 1 "the tree holds a C++ runtime ($found)"
        return
    fi
    # The environment stays for the next run (made under emulation, it takes a minute).
    local work=/opt/morvek-bare place=""
    [[ "$arch" == x86_64 ]] || place=$tree
    # Debian's pip reads the system's CA list when it starts, even when it fetches nothing,
    # and the unpacked tree has never built its own.
    local certificates=/etc/ssl/certs/ca-certificates.crt
    if [[ "$arch" == x86_64 && ! -f "$tree$certificates" ]]; then
        mkdir -p "$(dirname "$tree$certificates")" && cp "$certificates" "$tree$certificates" || return 1
    fi
    rm -f "$tree$work"/*.whl && mkdir -p "$tree$work" &&
        cp "$wheel" "$root/examples/quick_tour.py" "$tree$work/" || return 1
    local output=$tree$work/output.txt status
    : >"$output"
    { [[ -x "$tree$work/venv/bin/python" ]] ||
        "${runner[@]}" "$python" -m venv "$place$work/venv" >>"$output" 2>&1; } &&
        "${runner[@]}" "$place$work/venv/bin/python" -m pip install -q --force-reinstall \
            --no-index "$place$work/$(basename "$wheel")" >>"$output" 2>&1 &&
        "${runner[@]}" "$place$work/venv/bin/python" "$place$work/quick_tour.py" >>"$output" 2>&1
    status=$?
    ((status == 0)) || cat "$output"
    tally_record "$name" "$status" "example ran: exit status $status, $(grep -c . "$output") lines"
}

test_installed_arm64() {
    local cache
    cache=$("$root/tools/arm64_tree.sh" | tail -n 1) || return 1
    local name=arm64 venv=$venvs/wheel-arm64
    echo "=== $name: the installed wheel in the arm64 tree's CPython under qemu-aarch64"
    install_wheel "$name" "$cache/root/usr/bin/python3-qemu" "$venv" || return
    # The test tools come from the tree's pure-Python site (tools/arm64_tree.sh); mypy is not
    # among them, and its type check of the stubs is the same on either machine.
    run_installed "$name" "$venv" 1 PYTHONNOUSERSITE=1 PYTHONPATH="$cache/site" \
        -- -k "not mypy"
}

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
    test)
        prepare_tools && build_wheel x86_64 || exit 1
        check_wheel "$wheel" x86_64
        tally_record checks $? "auditwheel show, abi3audit --strict, tools/check_exports.sh"
        test_installed_x86_64
        test_bare_tree x86_64
        if build_sdist; then
            test_sdist
            check_upload "$wheel" "$sdist"
            tally_record twine $? "twine check --strict of the x86_64 wheel and the sdist"
        else
            tally_record sdist 1 "the sdist build failed"
        fi
        tally_print wheel
        ((tally_failed == 0 && tally_passed > 0))
        ;;
    test-arm64)
        prepare_tools && build_wheel aarch64 || exit 1
        check_wheel "$wheel" aarch64
        tally_record checks $? "auditwheel show, abi3audit --strict, tools/check_exports.sh"
        test_installed_arm64
        test_bare_tree aarch64
        tally_print wheel-arm64
        ((tally_failed == 0 && tally_passed > 0))
        ;;
    *)
        sed -n '2,25p' "$0" >&2
        exit 2
        ;;
esac
