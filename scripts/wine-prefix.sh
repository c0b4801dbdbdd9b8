#!/usr/bin/env bash
# Makes a Wine prefix for the project's tests and demos, and checks it.
# Usage: scripts/wine-prefix.sh PREFIX
#
# COM1 to COM4 map to /dev/null, so opening them works and touches nothing;
# no other COM port exists in the prefix, so nothing run in it can reach the
# machine's own serial ports.
set -euo pipefail
"$(dirname "$0")/wine-usable.sh" || exit $?
. "$(dirname "$0")/wine-env.sh" "$1"
prefix="$WINEPREFIX"

ports_ok() {
    local n link
    for n in 1 2 3 4; do
        [ "$(readlink "$prefix/dosdevices/com$n" 2>/dev/null)" = /dev/null ] || return 1
    done
    for link in "$prefix"/dosdevices/com*; do
        [ -L "$link" ] || continue
        [ "$(readlink "$link")" = /dev/null ] || return 1
    done
    [ "$(ls -d "$prefix"/dosdevices/com* | wc -l)" -eq 4 ]
}

if [ -f "$prefix/.zelbin-ready" ] && ports_ok; then
    exit 0
fi

mkdir -p "$prefix"
if ! wineboot --init >/dev/null 2>&1; then
    echo "wine-prefix.sh: wineboot failed in $prefix" >&2
    exit 1
fi
wineserver -w

rm -f "$prefix"/dosdevices/com*
for n in 1 2 3 4; do
    ln -s /dev/null "$prefix/dosdevices/com$n"
done

if ! ports_ok; then
    echo "wine-prefix.sh: COM ports in $prefix are not mapped as expected:" >&2
    ls -l "$prefix"/dosdevices/ >&2
    exit 1
fi
touch "$prefix/.zelbin-ready"
