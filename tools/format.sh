#!/usr/bin/env bash
# Formats the C++ (clang-format, .clang-format) and the Python (ruff format, pyproject.toml) of
# the repository, or with --check only says which files are not formatted, and fails then.
# The pinned formatters of requirements-format.txt live in build/venvs/format.
#   tools/format.sh [--check]
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/lib.sh"
venv=${MORVEK_BUILD_DIR:-$root/build}/venvs/format
check=0
[[ "${1:-}" == "--check" ]] && check=1

line=$(interpreters_by_version | grep -v '^debian-' | tail -n 1)
mkdir -p "$(dirname "$venv")"
if ! prepare_venv "${line#* }" "$venv" "$root/requirements-format.txt"; then
    cat "$venv.log" >&2
    echo "format: cannot install the formatters (log: $venv.log)" >&2
    exit 1
fi

cd "$root" || exit 1
# The tracked files, or in a tree that is no clone every file of those kinds.
tracked() {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        git ls-files -- "$@"
    else
        local pattern names=()
        for pattern in "$@"; do names+=(-o -name "$pattern"); done
        find . -path ./build -prune -o -path './build-*' -prune -o \( -false "${names[@]}" \) -print
    fi
}
mapfile -t cpp < <(tracked '*.cpp' '*.h')
mapfile -t python < <(tracked '*.py' '*.pyi')

status=0
if ((check)); then
    unformatted=()
    for file in "${cpp[@]}"; do
        "$venv/bin/clang-format" --style=file "$file" | cmp -s - "$file" || unformatted+=("$file")
    done
    if ((${#unformatted[@]})); then
        echo "format: C++ not formatted (make format fixes it): ${unformatted[*]}" >&2
        status=1
    fi
    if ! output=$("$venv/bin/ruff" format --check --output-format concise "${python[@]}" 2>&1); then
        echo "format: Python not formatted (make format fixes it):" \
            $(sed -n 's/^\(.*\):[0-9]*:[0-9]*: unformatted.*/\1/p' <<<"$output") >&2
        status=1
    fi
    ((status == 0)) && echo "format: ${#cpp[@]} C++ and ${#python[@]} Python files formatted"
else
    "$venv/bin/clang-format" --style=file -i "${cpp[@]}" || status=1
    "$venv/bin/ruff" format --quiet "${python[@]}" || status=1
fi
exit $status
