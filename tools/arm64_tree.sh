#!/usr/bin/env bash
# Makes, once, the Debian arm64 file trees that the Arm build compiles against and runs in: the
# machine's own Debian release, from its own Debian sources (tools/debian_tree.sh). Prints the
# cache directory on its last line:
#   CACHE/root          the tree: arm64 CPython with its headers and venv support, GoogleTest,
#                       the C/C++ runtimes
#   CACHE/site          the test tools of requirements-test.txt, pure Python, for that CPython
#   CACHE/root/usr/bin/python3-qemu   the tree's CPython under qemu-aarch64, run from here
#   tools/arm64_tree.sh bare    instead a tree of arm64 CPython alone, without a C++ runtime
#                       (CACHE-bare, no site): where a user's slim image would run the module
# MORVEK_ARM64_CACHE overrides CACHE (default /var/cache/morvek/arm64-RELEASE). Installs the
# host tools it lacks (cross compiler, qemu-user, mmdebstrap) with tools/deps.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
requirements=$root/requirements-test.txt
source "$root/tools/debian_tree.sh"
cache=${MORVEK_ARM64_CACHE:-/var/cache/morvek/arm64-$tree_release}

# The tree's packages. Their dependencies come along (apt resolves them); libc6-dev is named
# because the C++ test link needs the C runtime's start files and libraries, python3-venv
# because the installed-wheel test installs into a virtual environment of that CPython.
tree_packages=(python3 python3-venv libpython3-dev libc6-dev libstdc++6 libgtest-dev)
bare=0
if [[ "${1:-}" == bare ]]; then
    bare=1
    cache=$cache-bare
    tree_packages=(python3 python3-venv)
fi

host_tools() {
    local wanted=()
    command -v aarch64-linux-gnu-g++ >/dev/null || wanted+=(g++-aarch64-linux-gnu)
    command -v qemu-aarch64 >/dev/null || command -v qemu-aarch64-static >/dev/null ||
        wanted+=(qemu-user)
    # The test tools are fetched with the build machine's pip, in a virtual environment.
    wanted+=(python3-venv)
    tree_host_tools "${wanted[@]}"
}

tree_python_version() {
    local name
    name=$(readlink "$cache/root/usr/bin/python3")
    [[ "$name" =~ ^python(3\.[0-9]+)$ ]] || {
        echo "arm64: the tree's python3 is '$name', not a CPython 3 name" >&2
        return 1
    }
    echo "${BASH_REMATCH[1]}"
}

# The same pinned tools as the native runs. python-chess comes as source only: pip builds its
# wheel with the build machine's CPython, then installs wheels for the tree's version.
make_site() {
    local version site=$cache/site
    version=$(tree_python_version)
    if cmp -s "$requirements" "$site/.requirements-test.txt" && [[ -f "$site/.python-$version" ]]; then
        return 0
    fi
    local venv=$cache/host-pip
    if ! "$venv/bin/pip" --version >/dev/null 2>&1; then
        rm -rf "$venv"
        /usr/bin/python3 -m venv "$venv" >&2
    fi
    rm -rf "$site" "$site.new" "$cache/wheels"
    "$venv/bin/pip" wheel -q --wheel-dir "$cache/wheels" -r "$requirements" >&2
    "$venv/bin/pip" install -q --target "$site.new" --python-version "$version" \
        --only-binary=:all: --find-links "$cache/wheels" -r "$requirements" >&2
    # A compiled wheel would be the build machine's, useless to the Arm interpreter.
    local compiled
    compiled=$(find "$site.new" -name '*.so' -print -quit)
    if [[ -n "$compiled" ]]; then
        echo "arm64: the test tools include compiled code ($compiled): not usable under Arm" >&2
        return 1
    fi
    cp "$requirements" "$site.new/.requirements-test.txt"
    touch "$site.new/.python-$version"
    mv "$site.new" "$site"
}

host_tools
make_tree "$cache" "$tree_release" arm64 "${tree_packages[@]}"
make_launcher "$cache" python3-qemu /usr/bin/python3 \
    "$(command -v qemu-aarch64 || command -v qemu-aarch64-static)" -L "$cache/root" -0
((bare)) || make_site
echo "$cache"
