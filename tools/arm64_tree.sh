#!/usr/bin/env bash
# Makes, once, the Debian arm64 file tree that the Arm build compiles against and runs in: the
# machine's own Debian release, from its own Debian sources, unpacked without running anything
# (mmdebstrap's extract variant). Prints the cache directory on its last line:
#   CACHE/root          the tree: arm64 CPython and its headers, GoogleTest, the C/C++ runtimes
#   CACHE/site          the test tools of requirements-test.txt, pure Python, for that CPython
#   CACHE/root/usr/bin/python3-qemu   the tree's CPython under qemu-aarch64, run from here
# MORVEK_ARM64_CACHE overrides CACHE (default /var/cache/morvek/arm64-RELEASE). Installs the
# host tools it lacks (cross compiler, qemu-user, mmdebstrap) with tools/deps.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
requirements=$root/requirements-test.txt

release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [[ -z "$release" ]]; then
    echo "arm64: /etc/os-release names no Debian release" >&2
    exit 1
fi
cache=${MORVEK_ARM64_CACHE:-/var/cache/morvek/arm64-$release}

# The tree's packages. Their dependencies come along (apt resolves them); libc6-dev is named
# because the C++ test link needs the C runtime's start files and libraries.
tree_packages=(python3 libpython3-dev libc6-dev libstdc++6 libgtest-dev)

host_tools() {
    local wanted=()
    command -v aarch64-linux-gnu-g++ >/dev/null || wanted+=(g++-aarch64-linux-gnu)
    command -v qemu-aarch64 >/dev/null || command -v qemu-aarch64-static >/dev/null ||
        wanted+=(qemu-user)
    command -v mmdebstrap >/dev/null || wanted+=(mmdebstrap)
    # The test tools are fetched with the build machine's pip, in a virtual environment.
    wanted+=(python3-venv)
    "$root/tools/deps.sh" "${wanted[@]}" >&2
}

# The machine's configured Debian repositories of its own release, as one-line sources; other
# vendors' repositories (and other releases) stay out of the tree.
debian_sources() {
    apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Identifier: Packages' |
        awk -v release="$release" '$1 == "Debian" && ($3 == release || index($3, release "-") == 1)' |
        sort -u |
        awk '{ key = $2 " " $3; if (!(key in comps)) order[++n] = key; comps[key] = comps[key] " " $4 }
             END { for (i = 1; i <= n; ++i) print order[i] comps[order[i]] }'
}

make_tree() {
    local stamp=$cache/root/.morvek-tree key
    key="$release arm64 ${tree_packages[*]}"
    if [[ -f "$stamp" && "$(cat "$stamp")" == "$key" ]]; then
        return 0
    fi
    local lines
    lines=$(debian_sources)
    if [[ -z "$lines" ]]; then
        apt-get update -q >&2
        lines=$(debian_sources)
    fi
    if [[ -z "$lines" ]]; then
        echo "arm64: no Debian $release repository is configured on this machine" >&2
        return 1
    fi
    local signed=""
    [[ -f /usr/share/keyrings/debian-archive-keyring.gpg ]] &&
        signed="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
    local mirrors=() uri suite components
    while read -r uri suite components; do
        mirrors+=("deb $signed$uri $suite $components")
    done <<<"$lines"

    echo "arm64: making the Debian $release arm64 tree in $cache/root" >&2
    mkdir -p "$cache"
    # Unpacked beside the old tree and swapped in whole, so an interrupted run leaves no half.
    rm -rf "$cache/root.new"
    local include
    include=$(IFS=,; echo "${tree_packages[*]}")
    mmdebstrap --variant=extract --architectures=arm64 --include="$include" \
        "$release" "$cache/root.new" "${mirrors[@]}" >&2
    echo "$key" >"$cache/root.new/.morvek-tree"
    rm -rf "$cache/root"
    mv "$cache/root.new" "$cache/root"
    rm -rf "$cache/site"  # installed for the old tree's CPython
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

# A test that starts the interpreter again (subprocess with sys.executable) needs a program
# this machine can run, so sys.executable is a script that runs the tree's CPython under qemu.
# Kept in the tree's /usr/bin, its path still leads that CPython to the tree's standard library.
make_launcher() {
    local qemu
    qemu=$(command -v qemu-aarch64 || command -v qemu-aarch64-static)
    local launcher=$cache/root/usr/bin/python3-qemu
    cat >"$launcher.new" <<EOF
#!/bin/sh
exec "$qemu" -L "$cache/root" -0 "\$0" "$cache/root/usr/bin/python3" "\$@"
EOF
    chmod +x "$launcher.new"
    mv "$launcher.new" "$launcher"
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
make_tree
make_launcher
make_site
echo "$cache"
