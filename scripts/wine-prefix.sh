#!/usr/bin/env bash
# Makes a Wine prefix for the project's tests and demos, and checks it. The
# edition it runs is ZELBIN_ARCH's (x86, the default, or x64).
# Usage: scripts/wine-prefix.sh PREFIX            make it if needed, then check
#        scripts/wine-prefix.sh PREFIX --verify   only check
#
# COM1 to COM4 map to /dev/null, so opening them works and touches nothing;
# no other COM port exists in the prefix, so nothing run in it can reach the
# machine's own serial ports. Wine's mount manager, which would map the
# machine's serial ports into the prefix, is switched off in the prefix's
# own registry, so a plain `WINEPREFIX=... wine program.exe` is as safe as
# the project's scripts.
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
mount_manager_off() { grep -q '^"mountmgr.sys"=""' "$prefix/user.reg" 2>/dev/null; }
# A 64-bit prefix gets the 32-bit side, as 64-bit Windows has it, where this
# machine runs 32-bit Wine; one made before that Wine was installed lacks
# it and is made again.
both_sides_ok() {
    [ "$ZELBIN_ARCH" != x64 ] || [ -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ] ||
        ! "$(dirname "$0")/wine-usable.sh" x86 2>/dev/null
}
complain() {
    echo "wine-prefix.sh: $1 in $prefix:" >&2
    ls -l "$prefix"/dosdevices/ >&2
    exit 1
}

if [ "${2:-}" = --verify ]; then
    ports_ok || complain "COM ports are not mapped as expected"
    mount_manager_off || complain "the mount manager is not switched off in the registry"
    exit 0
fi
if [ -f "$prefix/.zelbin-ready" ] && ports_ok && mount_manager_off; then
    both_sides_ok && exit 0
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$prefix"
fi

mkdir -p "$prefix"
if ! "$ZELBIN_WINE" wineboot --init >/dev/null 2>&1; then
    echo "wine-prefix.sh: wineboot failed in $prefix" >&2
    exit 1
fi
# An empty override disables the driver, as "mountmgr.sys=" does in
# WINEDLLOVERRIDES; here it lasts for every later run.
"$ZELBIN_WINE" reg add 'HKCU\Software\Wine\DllOverrides' /v mountmgr.sys /t REG_SZ /d '' /f >/dev/null 2>&1
wineserver -w

rm -f "$prefix"/dosdevices/com*
for n in 1 2 3 4; do
    ln -s /dev/null "$prefix/dosdevices/com$n"
done

ports_ok || complain "COM ports are not mapped as expected"
mount_manager_off || complain "the mount manager could not be switched off in the registry"
touch "$prefix/.zelbin-ready"
