# Sourced by the scripts that make Debian file trees (tools/arm64_tree.sh, tools/sid_tree.sh):
# unpacked by mmdebstrap's extract variant, so nothing in them runs while they are made, from
# this machine's own configured Debian repositories, once, and swapped in whole.
#   make_tree DIR SUITE ARCH PACKAGE...    DIR/root holds the tree afterwards; made again only
#                                          when the suite, architecture or packages change
#   tree_host_tools PACKAGE...             mmdebstrap and the named host packages, if missing
# tree_release is this machine's Debian release.
tree_lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

tree_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [[ -z "$tree_release" ]]; then
    echo "tree: /etc/os-release names no Debian release" >&2
    exit 1
fi

tree_host_tools() {
    local wanted=("$@")
    command -v mmdebstrap >/dev/null || wanted+=(mmdebstrap)
    "$tree_lib_root/tools/deps.sh" "${wanted[@]}" >&2
}

# The machine's configured Debian repositories of its own release, as "URI SUITE COMPONENTS"
# lines; other vendors' repositories (and other releases) stay out of the tree.
debian_sources() {
    apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        'Identifier: Packages' |
        awk -v release="$tree_release" '$1 == "Debian" && ($3 == release || index($3, release "-") == 1)' |
        sort -u |
        awk '{ key = $2 " " $3; if (!(key in comps)) order[++n] = key; comps[key] = comps[key] " " $4 }
             END { for (i = 1; i <= n; ++i) print order[i] comps[order[i]] }'
}

make_tree() {
    local dir=$1 suite=$2 arch=$3
    shift 3
    local packages=("$@")
    local stamp=$dir/root/.morvek-tree key="$suite $arch ${packages[*]}"
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
        echo "tree: no Debian $tree_release repository is configured on this machine" >&2
        return 1
    fi
    local signed="" options=()
    [[ -f /usr/share/keyrings/debian-archive-keyring.gpg ]] &&
        signed="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
    local mirrors=() uri release_suite components
    while read -r uri release_suite components; do
        if [[ "$suite" == "$tree_release" ]]; then
            mirrors+=("deb $signed$uri $release_suite $components")
        elif [[ "$release_suite" == "$tree_release" ]]; then
            # Another suite of the same archive (the security and update suites are the
            # release's own). Its release file may be older than its validity window when the
            # archive is a dated snapshot.
            mirrors+=("deb $signed$uri $suite $components")
            options=(--aptopt='Acquire::Check-Valid-Until "false"')
        fi
    done <<<"$lines"

    echo "tree: making the Debian $suite $arch tree in $dir/root" >&2
    mkdir -p "$dir"
    rm -rf "$dir/root.new"
    local include
    include=$(IFS=,; echo "${packages[*]}")
    mmdebstrap --variant=extract --architectures="$arch" --include="$include" "${options[@]}" \
        "$suite" "$dir/root.new" "${mirrors[@]}" >&2 || return 1
    # The merged-/usr links that the extract variant leaves to a package's scripts: the
    # loader's path and the tree's /bin/sh go through them.
    local link
    for link in bin lib lib64 sbin; do
        [[ -e "$dir/root.new/$link" || ! -d "$dir/root.new/usr/$link" ]] ||
            ln -s "usr/$link" "$dir/root.new/$link"
    done
    echo "$key" >"$dir/root.new/.morvek-tree"
    rm -rf "$dir/root"
    mv "$dir/root.new" "$dir/root"
}

# DIR/root/usr/bin/NAME: a program this machine runs that starts the tree's PYTHON (a path in
# the tree) through RUNNER (the words before the program: a loader or an emulator). A test that
# starts the interpreter again (subprocess with sys.executable) needs such a program. Its own
# path, handed on as the interpreter's argv[0], leads that CPython to the tree's standard
# library, or to a virtual environment's when the environment's python links to it.
make_launcher() {
    local dir=$1 name=$2 python=$3
    shift 3
    local launcher=$dir/root/usr/bin/$name words
    words=$(printf ' "%s"' "$@")
    cat >"$launcher.new" <<LAUNCHER
#!/bin/sh
exec$words "\$0" "$dir/root$python" "\$@"
LAUNCHER
    chmod +x "$launcher.new"
    mv "$launcher.new" "$launcher"
}
