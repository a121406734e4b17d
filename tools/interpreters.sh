#!/usr/bin/env bash
# Lists every CPython >= 3.9 on the machine, one "name path" a line: pyenv's interpreters, the
# system's /usr/bin/python3, and Debian's newest CPythons in the sid tree of tools/sid_tree.sh
# (MORVEK_SID_CACHE), run through their launchers. Older or other implementations are left out.
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
for launcher in "${MORVEK_SID_CACHE:-/var/cache/morvek/sid-amd64}"/root/usr/bin/python3.*-host; do
    consider debian "$launcher"
done
