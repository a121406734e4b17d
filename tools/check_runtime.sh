#!/usr/bin/env bash
# The module carries its own copies of a few C++ runtime pieces (src/python/runtime.cpp) so that
# it needs nothing but glibc 2.17's C library. A new compiler or library release can quietly
# route around them: the library then pulls in its own piece again (and with it a newer glibc
# symbol or the dynamic loader), or stops calling ours. This reads the module's link map
# (-Wl,-Map with --cref, written beside the module by the build) and fails, naming the piece,
# unless each replacement is the definition linked and something still calls it, and none of
# the library members they stand in for was linked.
#   tools/check_runtime.sh [LINK-MAP...]    (default: build/morvek_board.link-map)
set -euo pipefail

if (($# > 1)); then
    status=0
    for map in "$@"; do
        "$0" "$map" || status=1
    done
    exit $status
fi

map=${1:-build/morvek_board.link-map}
if [[ ! -f "$map" ]]; then
    echo "runtime: no link map $map (the module is linked with one unless built with sanitizers)" >&2
    exit 1
fi
status=0

# symbol as the cross reference names it | what it replaces
replacements=(
    "__cxa_get_globals|the exception globals of libstdc++ (eh_globals.o), reached through __tls_get_addr"
    "__cxa_get_globals_fast|the exception globals of libstdc++ (eh_globals.o), reached through __tls_get_addr"
    "std::__throw_bad_alloc()|libstdc++'s throw helpers (functexcept.o), which pull in getentropy and arc4random"
    "std::__throw_length_error(char const*)|libstdc++'s throw helpers (functexcept.o)"
    "std::__throw_logic_error(char const*)|libstdc++'s throw helpers (functexcept.o)"
    "__wrap_pthread_once|pthread_once@GLIBC_2.34, bound to the oldest version instead"
    "__wrap___pthread_key_create|__pthread_key_create@GLIBC_2.34, bound to the oldest version instead"
    "__wrap__dl_find_object|_dl_find_object (glibc 2.35), the unwinder's table lookup"
)
for entry in "${replacements[@]}"; do
    symbol=${entry%%|*}
    what=${entry#*|}
    # The symbol's line names its definer; the indented lines after it, its callers.
    block=$(awk -v name="$symbol" '
        found && /^[^ ]/ { exit }
        found { print }
        index($0, name " ") == 1 { found = 1; print }' "$map")
    if [[ -z "$block" ]]; then
        echo "runtime: $symbol is not linked at all: nothing calls the replacement of $what" >&2
        status=1
    elif ! head -n 1 <<<"$block" | grep -q 'runtime\.cpp\.o'; then
        echo "runtime: $symbol comes from $(head -n 1 <<<"$block" | awk '{print $NF}'), not runtime.cpp: its replacement of $what is not the one linked" >&2
        status=1
    elif [[ $(wc -l <<<"$block") -lt 2 ]]; then
        echo "runtime: nothing calls runtime.cpp's $symbol any more (it replaces $what): remove it, or find what calls instead" >&2
        status=1
    fi
done

members=$(sed -n '1,/^Discarded input sections/p' "$map" | grep -oE 'libstdc\+\+\.a\((functexcept|eh_globals)\.o\)' | sort -u || true)
if [[ -n "$members" ]]; then
    echo "runtime: the library's own pieces were linked beside runtime.cpp's:" $members >&2
    status=1
fi

((status == 0)) || exit 1
echo "runtime: each of runtime.cpp's ${#replacements[@]} replacements is linked and called ($(basename "$map"))"
