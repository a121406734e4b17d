#!/usr/bin/env bash
# Runs tests/python under valgrind memcheck with one interpreter, and fails on any memory
# error or definite leak whose stacks pass through the module. The interpreter's own records
# (objects it never frees at exit, its vectorised string compares) are left out.
#   tools/valgrind.sh [NAME-FILTER] [-- PYTEST-ARGS...]    default: the oldest CPython listed
# MORVEK_BUILD_DIR and MORVEK_VENV_DIR as for tools/pytest_all.sh. The log is kept in
# $MORVEK_BUILD_DIR/valgrind-NAME.log.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${MORVEK_BUILD_DIR:-$root/build}
venvs=${MORVEK_VENV_DIR:-$build/venvs}
source "$root/tools/lib.sh"
split_args "$@"
filter=$first_arg

line=$("$root/tools/interpreters.sh" | awk -v f="$filter" 'index($1, f) { print; exit }')
if [[ -z "$line" ]]; then
    echo "valgrind: no interpreter matches '$filter'" >&2
    exit 1
fi
name=${line%% *}
venv=$venvs/$name
# The environment is the one the ordinary test run makes; collecting alone prepares it.
if [[ ! -x "$venv/bin/pytest" ]]; then
    MORVEK_BUILD_DIR="$build" MORVEK_VENV_DIR="$venvs" \
        "$root/tools/pytest_all.sh" "$name" -- --collect-only -q >/dev/null
fi

log=$build/valgrind-$name.log
echo "=== valgrind memcheck, $name (log: $log)"
# PYTHONMALLOC=malloc lets memcheck see every object; the leak test runs fewer calls, the
# timing tests get more time.
(cd "$root" && PYTHONMALLOC=malloc MORVEK_BUILD_DIR="$build" PYTHONPATH="$root/tools" \
    MORVEK_LEAK_CALLS="${MORVEK_LEAK_CALLS:-5000}" MORVEK_TIME_SCALE=50 \
    valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --num-callers=50 --log-file="$log" \
    "$venv/bin/python" "$venv/bin/pytest" -q -p no:cacheprovider -p valgrind_profile \
    "${rest_args[@]}" tests/python)
status=$?

# One record per error or leak: the lines from its heading to the next empty line.
ours=$(awk '
    /^==[0-9]+== $/ { if (record ~ /morvek|chess::/) { print record; n++ } record = ""; next }
    { record = record $0 "\n" }
    END { if (record ~ /morvek|chess::/) { print record; n++ } }
' "$log")
grep -E '(ERROR SUMMARY|definitely lost):' "$log" |
    sed 's/^==[0-9]*== /    interpreter and module: /'
if [[ -n "$ours" ]]; then
    echo "$ours"
    echo "valgrind: records through the module above (full log: $log)" >&2
    exit 1
fi
if ((status != 0)); then
    echo "valgrind: pytest failed under valgrind (status $status)" >&2
    exit 1
fi
echo "valgrind: no error and no definite leak through the module"
