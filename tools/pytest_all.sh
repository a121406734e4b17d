#!/usr/bin/env bash
# Runs tests/python under every CPython >= 3.9 on the machine (tools/interpreters.sh), each in
# its own virtual environment under build/venvs, all loading the one built module.
#   tools/pytest_all.sh [NAME-FILTER] [-- PYTEST-ARGS...]    e.g. tools/pytest_all.sh 3.9
# MORVEK_BUILD_DIR: where the module is (default build/); MORVEK_VENV_DIR: where the
# environments are (default $MORVEK_BUILD_DIR/venvs); MORVEK_PRELOAD: libraries to preload
# into pytest alone (the sanitizer runtimes for a sanitized module).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVEK_BUILD_DIR:-$root/build}
venvs=${MORVEK_VENV_DIR:-$build/venvs}
preload=()
if [[ -n "${MORVEK_PRELOAD:-}" ]]; then
    preload=(env "LD_PRELOAD=$MORVEK_PRELOAD")
fi
source "$root/tools/lib.sh"
split_args "$@"
filter=$first_arg
pytest_args=("${rest_args[@]}")

mapfile -t interpreters < <("$root/tools/interpreters.sh")
if ((${#interpreters[@]} == 0)); then
    echo "pytest: no CPython >= 3.9 found" >&2
    exit 1
fi

# The walker's optional tools (requirements-walk.txt) go to one interpreter, the newest of the
# machine's own: its tests need them once, and skip under the others.
walker_line=$(interpreters_by_version | grep -v '^debian-' | tail -n 1)

mkdir -p "$venvs"
source "$root/tools/tally.sh"
for line in "${interpreters[@]}"; do
    name=${line%% *}
    python=${line#* }
    [[ -z "$filter" || "$name" == *"$filter"* ]] || continue
    venv=$venvs/$name
    echo "=== $name ($python)"
    requirements=("$root/requirements-test.txt")
    [[ "$line" != "$walker_line" ]] || requirements+=("$root/requirements-walk.txt")
    if ! prepare_venv "$python" "$venv" "${requirements[@]}"; then
        cat "$venv.log" >&2
        tally_record "$name" 1 "could not prepare $venv"
        continue
    fi
    output=$venvs/$name.pytest.txt
    (cd "$root" && MORVEK_BUILD_DIR="$build" "${preload[@]}" "$venv/bin/pytest" -q -p no:cacheprovider \
        "${pytest_args[@]}" tests/python) 2>&1 | tee "$output"
    tally_record "$name" "${PIPESTATUS[0]}" "$(grep -v '^\s*$' "$output" | tail -n 1)"
done

if ((tally_passed + tally_failed == 0)); then
    echo "pytest: no interpreter matches '$filter'" >&2
    exit 1
fi
tally_print interpreters
((tally_failed == 0))
