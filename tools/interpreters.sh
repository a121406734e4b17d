#!/usr/bin/env bash
# Lists every CPython >= 3.9 on the machine, one "name path" a line: pyenv's interpreters and
# the system's /usr/bin/python3. Older or other implementations are left out.
set -euo pipefail

probe='import platform, sys; sys.stdout.write("%s %d %d %s\n" % (platform.python_implementation(), sys.version_info[0], sys.version_info[1], platform.python_version()))'

consider() {
    local kind=$1 path=$2 implementation major minor version
    [[ -x "$path" ]] || return 0
    read -r implementation major minor version < <("$path" -c "$probe" 2>/dev/null) || return 0
    [[ "$implementation" == CPython ]] || return 0
    ((major == 3 && minor >= 9)) || return 0
    echo "$kind-$version $path"
}

pyenv_root=${PYENV_ROOT:-$HOME/.pyenv}
shopt -s nullglob
dirs=("$pyenv_root"/versions/*/)
if ((${#dirs[@]})); then
    while read -r dir; do
        consider pyenv "${dir}bin/python3"
    done < <(printf '%s\n' "${dirs[@]}" | sort -V)
fi
consider system /usr/bin/python3
