#!/usr/bin/env bash
# Makes, once, the Debian sid amd64 file tree that holds the CPython releases newer than any
# other interpreter here (3.14 and 3.15), and prints its cache directory on the last line:
#   CACHE/root                       the tree: those CPythons and their venv support, no C++
#                                    runtime (also the bare tree tools/wheel_test.sh installs the
#                                    wheel into)
#   CACHE/root/usr/bin/python3.N-host  that CPython run from this machine, through the tree's
#                                    own loader and libraries (tools/interpreters.sh lists them)
# MORVEK_SID_CACHE overrides CACHE (default /var/cache/morvek/sid-amd64).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/debian_tree.sh"
cache=${MORVEK_SID_CACHE:-/var/cache/morvek/sid-amd64}
versions=(3.14 3.15)

packages=()
for version in "${versions[@]}"; do
    packages+=("python$version" "python$version-venv")
done
tree_host_tools
make_tree "$cache" sid amd64 "${packages[@]}"
libraries=$cache/root/usr/lib/x86_64-linux-gnu
for version in "${versions[@]}"; do
    make_launcher "$cache" "python$version-host" "/usr/bin/python$version" \
        "$cache/root/lib64/ld-linux-x86-64.so.2" --library-path "$libraries" --argv0
done
echo "$cache"
