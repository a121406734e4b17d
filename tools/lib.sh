# Sourced by the test scripts: what several of them share.
#   split_args "$@"        the command line "[FIRST] [-- ARGS...]": sets first_arg (empty when
#                          absent) and rest_args (the arguments after "--")
#   prepare_venv PYTHON VENV [REQUIREMENTS-FILE...]
#                          a virtual environment of PYTHON in VENV with those requirements; its
#                          output goes to VENV.log
#   interpreters_by_version
#                          tools/interpreters.sh, oldest version first
lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

split_args() {
    first_arg=""
    if [[ $# -gt 0 && "$1" != "--" ]]; then
        first_arg=$1
        shift
    fi
    [[ "${1:-}" == "--" ]] && shift
    rest_args=("$@")
}

# Made once; the requirements are installed again only when their text has changed since.
# Debian's CPython of another root (the trees of tools/debian_tree.sh) looks for the wheels of
# its ensurepip in this machine's /usr/share/python-wheels, so there pip comes from the
# tree's own copy of that directory instead.
prepare_venv() {
    local python=$1 venv=$2 log=$2.log
    shift 2
    local wanted="" file args=()
    for file in "$@"; do
        wanted+=$(cat "$file")
        args+=(-r "$file")
    done
    if ! "$venv/bin/python" -m pip --version >/dev/null 2>&1; then
        rm -rf "$venv"
        if ! "$python" -m venv "$venv" >"$log" 2>&1; then
            local pip_wheel
            pip_wheel=$(ls "$(dirname "$python")"/../share/python-wheels/pip-*.whl 2>/dev/null | head -n 1)
            [[ -n "$pip_wheel" ]] || return 1
            rm -rf "$venv"
            "$python" -m venv --without-pip "$venv" >>"$log" 2>&1 &&
                "$venv/bin/python" "$pip_wheel/pip" install -q --no-index "$pip_wheel" >>"$log" 2>&1 ||
                return 1
        fi
    fi
    local stamp=$venv/requirements.stamp
    if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$wanted" ]]; then
        if ((${#args[@]})); then
            "$venv/bin/python" -m pip install -q "${args[@]}" >>"$log" 2>&1 || return 1
        fi
        printf '%s' "$wanted" >"$stamp"
    fi
}

interpreters_by_version() {
    "$lib_root/tools/interpreters.sh" | awk '{ v = $1; sub(/.*-/, "", v); print v, $0 }' |
        sort -V -k1,1 | cut -d' ' -f2-
}
