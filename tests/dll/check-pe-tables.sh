#!/usr/bin/env bash
# Reads Zelbin_Serial.dll's export and import tables and fails on any
# difference from its contract: an image of the given edition, exactly five
# undecorated exports at fixed ordinals (the same on x86 and x64), and
# imports from KERNEL32.dll, msvcrt.dll and io.dll only, with io.dll's five
# operations and kernel32's device calls imported by name.
# Usage: check-pe-tables.sh OBJDUMP DLL x86|x64
set -euo pipefail
objdump="$1"
dll="$2"
arch="$3"
dump="$("$objdump" -p "$dll")"
status=0

fail() {
    echo "FAIL: $*"
    status=1
}

same() { # what expected actual
    if [ "$2" != "$3" ]; then
        fail "$1"
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' || true
    fi
}

case "$arch" in
x86)
    grep -q '^Magic[[:space:]]*010b' <<<"$dump" || fail "not a PE32 (32-bit) image"
    grep -q 'file format pei-i386' <<<"$dump" || fail "not an x86 image"
    ;;
x64)
    grep -q '^Magic[[:space:]]*020b' <<<"$dump" || fail "not a PE32+ (64-bit) image"
    grep -q 'file format pei-x86-64' <<<"$dump" || fail "not an x64 image"
    ;;
*) fail "unknown edition '$arch'" ;;
esac

# "[   i] Name" under the name pointer table: i + ordinal base is the ordinal.
base="$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump")"
[ -n "$base" ] || fail "no export table"
exports="$(awk -v base="${base:-1}" '
    /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
    inside && NF == 0 { exit }
    inside { gsub(/[][]/, " "); print $1 + base, $2 }' <<<"$dump" | sort -n)"
same "exports (ordinal name)" "1 ZelbinIsCustom
2 ZelbinSetToggled
3 ZelbinIsZBToggle
4 ZelbinStopListen
5 ZelbinStartListen" "$exports"

entries="$(sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] +base\[[[:space:]]*\([0-9]*\)\].*/\1/p' <<<"$dump" | tr '\n' ' ')"
same "export address table ordinals" "1 2 3 4 5 " "$entries"

dlls="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort)"
same "imported DLLs" "KERNEL32.dll
io.dll
msvcrt.dll" "$dlls"

imports_of() {
    awk -v dll="$1" '
        /DLL Name:/ { inside = ($3 == dll); next }
        inside && /Hint\/Ord/ { listing = 1; next }
        inside && listing && NF == 0 { exit }
        inside && listing { print $NF }' <<<"$dump" | sort
}
same "imports from io.dll" "ClrPortBit
GetPortBit
IsDriverInstalled
PortOut
SetPortBit" "$(imports_of io.dll)"

kernel32="$(imports_of KERNEL32.dll)"
for name in CreateFileA CloseHandle; do
    grep -qx "$name" <<<"$kernel32" || fail "KERNEL32.dll import $name missing"
done

if [ "$status" -eq 0 ]; then
    echo "PE tables of $(basename "$dll") ($arch): 5 exports at ordinals 1-5; imports KERNEL32.dll, io.dll, msvcrt.dll"
fi
exit "$status"
