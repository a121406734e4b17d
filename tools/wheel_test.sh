#!/usr/bin/env bash
# The wheel as users install it (tools/wheel.sh builds and checks it), with the sdist beside it.
#   tools/wheel_test.sh x86_64   the x86_64 wheel checked, installed into a virtual environment of
#                                every CPython >= 3.9 with the example run there, tests/python
#                                against the installed copy under the oldest and the newest, the
#                                example in a tree with CPython and no C++ runtime; the sdist
#                                checked and installed into a fresh environment, and both pass
#                                `twine check --strict` (make test-wheel)
#   tools/wheel_test.sh aarch64  the aarch64 wheel checked, installed into a virtual environment
#                                of the arm64 tree's CPython under qemu-aarch64 with tests/python
#                                run against it, and the example in a bare arm64 tree (make
#                                test-arm64)
# MORVEK_BUILD_DIR as for tools/wheel.sh.
source "$(dirname "$0")/wheel.sh"

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
    ((status == 0)) && walk_installed "$venv" "$output"
    status=$?
    ((status == 0)) || cat "$output"
    tally_record sdist "$status" "installed from source, the example and the walker ran: exit status $status"
}

# Runs the example and, when FULL, tests/python against the copy installed in VENV, from the
# environment's own directory, where no built module lies. Extra words: environment settings (NAME=VALUE) for
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
    ((status == 0)) && walk_installed "$venv" "$output"
    status=$?
    ((status == 0)) || cat "$output"
    echo "example and walker ran: exit status $status" >>"$output"
    if ((full && status == 0)); then
        (cd "$venv" && env -u PYTHONHOME MORVEK_INSTALLED=1 "${settings[@]}" "$venv/bin/python" \
            -m pytest -q -p no:cacheprovider "$@" "$root/tests/python") 2>&1 | tee "$output"
        status=${PIPESTATUS[0]}
    fi
    tally_record "$name" "$status" "$(grep -v '^\s*$' "$output" | tail -n 1)"
}

# The installed command on a sample file and on a gzip copy of it: the same rows.
walk_installed() {
    local venv=$1 output=$2 work status
    work=$(mktemp -d)
    gzip -c "$root/examples/games/standard.pgn" >"$work/standard.pgn.gz"
    "$venv/bin/morvek-walk" --jobs 2 "$root/examples/games/standard.pgn" -o "$work/plain.csv" >>"$output" 2>&1 &&
        "$venv/bin/morvek-walk" --jobs 2 "$work/standard.pgn.gz" -o "$work/gz.csv" >>"$output" 2>&1 &&
        cmp -s <(cut -d, -f2- "$work/plain.csv") <(cut -d, -f2- "$work/gz.csv")
    status=$?
    ((status == 0)) || echo "morvek-walk from the wheel failed, or read the .gz copy differently" >>"$output"
    rm -rf "$work"
    return $status
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

# The walker's native module loads and walks there too: one game, one row.
native_walk='import morvek_walk._native as n; assert n.walk(b"1. e4 *", "x", 1, ())[2:4] == (1, 1)'

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
        "${runner[@]}" "$place$work/venv/bin/python" "$place$work/quick_tour.py" >>"$output" 2>&1 &&
        "${runner[@]}" "$place$work/venv/bin/python" -c "$native_walk" >>"$output" 2>&1
    status=$?
    ((status == 0)) || cat "$output"
    tally_record "$name" "$status" "example and native walk ran: exit status $status, $(grep -c . "$output") lines"
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
    x86_64)
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
    aarch64)
        prepare_tools && build_wheel aarch64 || exit 1
        check_wheel "$wheel" aarch64
        tally_record checks $? "auditwheel show, abi3audit --strict, tools/check_exports.sh"
        test_installed_arm64
        test_bare_tree aarch64
        tally_print wheel-arm64
        ((tally_failed == 0 && tally_passed > 0))
        ;;
    *)
        awk 'NR > 1 { if (!/^#/) exit; print }' "$0" >&2
        exit 2
        ;;
esac
