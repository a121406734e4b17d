#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, as root, when any is missing.
# A machine that already has them all is left alone, so repeated runs cost a second.
set -euo pipefail

packages=(cmake make g++ binutils libgtest-dev libbenchmark-dev)
# Extra packages a target asks for by name, e.g. `tools/deps.sh stockfish` for the perft race.
packages+=("$@")
# The system interpreter needs ensurepip for its virtual environment.
if [[ -x /usr/bin/python3 ]]; then
    packages+=(python3-venv)
fi

if ! command -v dpkg-query >/dev/null; then
    echo "deps: not a Debian system, assuming ${packages[*]} are present" >&2
    exit 0
fi

missing=()
for package in "${packages[@]}"; do
    # Already usable from elsewhere (cmake from pip, for one): no need for Debian's copy.
    case "$package" in
        cmake | make | g++) command -v "$package" >/dev/null && continue ;;
    esac
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

install_missing() {
    ((${#missing[@]})) || return 0
    echo "deps: installing ${missing[*]}"
    if [[ $(id -u) -ne 0 ]]; then
        echo "deps: root is needed to install ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q "${missing[@]}"
}
install_missing

# The module compiles against the oldest CPython headers at hand (the build's own search, run
# by the CMake just made sure of); pyenv's interpreters carry their own, otherwise Debian's are
# needed.
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ -z "$(cmake -P "$root/cmake/python_headers.cmake" 2>&1)" ]]; then
    missing=(python3-dev)
    install_missing
fi
