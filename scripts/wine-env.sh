# Sourced by the Wine scripts: the environment every project Wine run uses.
# Usage: . scripts/wine-env.sh PREFIX
#
# ZELBIN_ARCH (x86, the default, or x64) says which edition's programs the
# prefix runs. x64 programs are started by Wine's 64-bit loader itself:
# Debian's `wine` tries the 32-bit loader first, which can't start where
# the kernel runs no 32-bit programs. Each build folder has its own prefix.
#
# Wine's mount manager is switched off in the project's prefixes: it maps
# every serial port it finds on the machine into the prefix, and one of them
# always escapes the registry's port settings. Without it, the prefix has
# exactly the COM links that wine-prefix.sh makes.
export WINEPREFIX="$(realpath -m "$1")"
export WINEDEBUG=-all
# ZELBIN_WINEDLLOVERRIDES adds a test's own overrides to these.
export WINEDLLOVERRIDES="mscoree,mshtml,mountmgr.sys=${ZELBIN_WINEDLLOVERRIDES:+;$ZELBIN_WINEDLLOVERRIDES}"
export ZELBIN_ARCH="${ZELBIN_ARCH:-x86}"

# The Wine loader for programs of an architecture (x86 or x64).
zelbin_wine_loader() {
    if [ "$1" = x64 ]; then
        echo /usr/lib/wine/wine64
    elif [ -x /usr/lib/wine/wine ]; then
        echo /usr/lib/wine/wine
    else
        command -v wine || echo wine
    fi
}

# The architecture of a Windows program file, from its PE header's machine
# field; the prefix's own for anything else (a builtin such as cmd.exe).
zelbin_pe_arch() {
    local pe machine
    if [ -f "$1" ] && pe="$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null)" && [ -n "$pe" ] &&
        machine="$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null)"; then
        case "${machine// /}" in
        8664) echo x64; return ;;
        014c) echo x86; return ;;
        esac
    fi
    echo "$ZELBIN_ARCH"
}

ZELBIN_WINE="$(zelbin_wine_loader "$ZELBIN_ARCH")"
