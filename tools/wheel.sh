#!/usr/bin/env bash
# The wheel, built from the CMake project of `make build` and checked as a user gets it.
#   tools/wheel.sh build   build dist/morvek_board-*-cp39-abi3-*.whl (make wheel)
#   tools/wheel.sh test    build it, audit its module, install it into a virtual environment of
#                          every CPython >= 3.9 and run the example there; under the oldest and
#                          the newest run tests/python against the installed copy (make test-wheel)
# MORVEK_BUILD_DIR (default build/): the wheel's own CMake build goes to its wheel/, the
# packaging tools (requirements-build.txt) and the environments to its venvs/.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVEK_BUILD_DIR:-$root/build}
venvs=$build/venvs
dist=$root/dist
tools=$venvs/packaging
wheel=""

# tools/interpreters.sh, oldest version first.
interpreters_by_version() {
    "$root/tools/interpreters.sh" | awk '{ v = $1; sub(/.*-/, "", v); print v, $0 }' |
        sort -V -k1,1 | cut -d' ' -f2-
}

# Creates the environment once, and installs the requirements files given again only when
# their text has changed since.
prepare_venv() {
    local python=$1 venv=$2 log=$2.log
    shift 2
    local wanted="" file args=()
    for file in "$@"; do
        wanted+=$(cat "$file")
        args+=(-r "$file")
    done
    if ! "$venv/bin/python" -c "" 2>/dev/null; then
        rm -rf "$venv"
        "$python" -m venv "$venv" >"$log" 2>&1 || return 1
    fi
    local stamp=$venv/requirements.stamp
    if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$wanted" ]]; then
        if ((${#args[@]})); then
            "$venv/bin/python" -m pip install -q "${args[@]}" >>"$log" 2>&1 || return 1
        fi
        printf '%s' "$wanted" >"$stamp"
    fi
}

build_wheel() {
    local newest
    newest=$(interpreters_by_version | tail -n 1)
    if [[ -z "$newest" ]]; then
        echo "wheel: no CPython >= 3.9 found" >&2
        return 1
    fi
    mkdir -p "$venvs"
    if ! prepare_venv "${newest#* }" "$tools" "$root/requirements-build.txt"; then
        cat "$tools.log" >&2
        return 1
    fi
    rm -f "$dist"/morvek_board-*.whl
    # Without isolation the pinned backend of the tools environment builds, and the CMake build
    # directory stays, so that a rebuild compiles only what changed. Without the dependency
    # check, a machine without ninja builds with make instead of asking for ninja's package.
    # The backend would take CMAKE_ARGS from the environment (make passes its own on), and a
    # sanitizer option there would make a wheel that no plain interpreter loads.
    local log=$build/wheel.log
    if ! env -u CMAKE_ARGS "$tools/bin/python" -m build --wheel --no-isolation \
        --skip-dependency-check --outdir "$dist" -C build-dir="$build/wheel" "$root" \
        >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "wheel: the build failed (whole log: $log)" >&2
        return 1
    fi
    wheel=$(ls "$dist"/morvek_board-*.whl)
    echo "wheel: built $wheel ($(grep -m1 'CPython headers' "$log" | sed 's/.*headers /headers /'))"
}

# Only the 3.9 stable ABI, only the init entry exported, no libpython.
audit_wheel() {
    NO_COLOR=1 "$tools/bin/abi3audit" --strict --summary "$wheel" || return 1
    local unpacked status=0
    unpacked=$(mktemp -d)
    "$tools/bin/python" -m zipfile -e "$wheel" "$unpacked" &&
        "$root/tools/check_exports.sh" "$unpacked/morvek_board.abi3.so" || status=1
    rm -rf "$unpacked"
    return $status
}

test_installed() {
    local -a lines requirements
    local oldest newest line name python venv full what output status
    source "$root/tools/tally.sh"
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
        if ! prepare_venv "$python" "$venv" "${requirements[@]}" ||
            ! "$venv/bin/python" -m pip install -q --force-reinstall --no-deps --no-index "$wheel" \
                >>"$venv.log" 2>&1; then
            cat "$venv.log" >&2
            tally_record "$name" 1 "cannot install the wheel into $venv"
            continue
        fi
        output=$venvs/wheel-$name.txt
        # The script's own directory is the only addition to the path, so the module can only
        # come from the environment.
        "$venv/bin/python" "$root/examples/quick_tour.py" >"$output" 2>&1
        status=$?
        ((status == 0)) || cat "$output"
        echo "example ran: exit status $status" >>"$output"
        if ((full && status == 0)); then
            (cd "$root" && MORVEK_INSTALLED=1 "$venv/bin/pytest" -q -p no:cacheprovider \
                tests/python) 2>&1 | tee "$output"
            status=${PIPESTATUS[0]}
        fi
        tally_record "$name" "$status" "$(grep -v '^\s*$' "$output" | tail -n 1)"
    done
    tally_print wheel
    ((tally_failed == 0 && tally_passed > 0))
}

case "${1:-}" in
    build)
        build_wheel
        ;;
    test)
        build_wheel || exit 1
        status=0
        audit_wheel || status=1
        test_installed || status=1
        exit $status
        ;;
    *)
        echo "usage: tools/wheel.sh build|test" >&2
        exit 2
        ;;
esac
