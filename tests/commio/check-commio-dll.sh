#!/usr/bin/env bash
# Checks the comm-port io.dll's binary contract: exactly its seven
# undecorated exports, imports from KERNEL32.dll and msvcrt.dll, and from
# ADVAPI32.dll for the port list (no port driver; SETUPAPI.dll is loaded at
# the first port list, never imported), and no
# port instruction (in, out, ins, outs) in the code built for it, read
# from its objects and archives, where functions have their bounds.
# Usage: check-commio-dll.sh OBJDUMP DLL OBJECTS_OR_ARCHIVES...
set -euo pipefail
objdump="$1"
dll="$2"
shift 2
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

dump="$("$objdump" -p "$dll")"
exports="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)"
expected="$(printf '%s\n' ClrPortBit CommIoStatus GetPortBit IsDriverInstalled PortIn PortOut SetPortBit)"
[ "$exports" = "$expected" ] || fail "exports differ: $(echo $exports)"
imports="$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort -u)"
[ "$imports" = "$(printf '%s\n' ADVAPI32.dll KERNEL32.dll msvcrt.dll)" ] || fail "imports differ: $(echo $imports)"

# CMake passes a target's objects as one ;-separated list.
mapfile -t objects < <(printf '%s\n' "$@" | tr ';' '\n' | sed '/^$/d')
for object in "${objects[@]}"; do
    [ -f "$object" ] || fail "no object or archive $object"
done
[ "${#objects[@]}" -gt 0 ] || fail "no objects given"
if [ "${#objects[@]}" -gt 0 ]; then
    port_io="$("$objdump" -d "${objects[@]}" |
        grep -E $'\t(rep[a-z]* )?(in|out|ins[bwld]?|outs[bwld]?)[[:space:]]' || true)"
    [ -z "$port_io" ] || fail "port instructions:"$'\n'"$port_io"
fi

[ "$status" = 0 ] && echo "io.dll: 7 exports, imports ADVAPI32.dll, KERNEL32.dll and msvcrt.dll, no port instruction in ${#objects[@]} objects and archives"
exit "$status"
