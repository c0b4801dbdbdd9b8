#!/usr/bin/env bash
# Checks the comm-port io.dll's binary contract: exactly its eight
# undecorated exports, each at the ordinal it has always had, imports from
# KERNEL32.dll and msvcrt.dll, and from ADVAPI32.dll for the port list (no
# port driver; SETUPAPI.dll is loaded at the first port list, never
# imported), and no
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
expected="$(printf '%s\n' ClrPortBit CommIoStatus CommIoUartStatus GetPortBit IsDriverInstalled PortIn PortOut SetPortBit)"
[ "$exports" = "$expected" ] || fail "exports differ: $(echo $exports)"
# The ordinals hosts may have bound: the first seven as the first release
# numbered them, the status records after them. objdump's table lists each
# name with its place in the address table, ordinal base 1.
ordinals="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\2 \1/p' | sort)"
base="$(sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump" | head -n 1)"
expected_ordinals="ClrPortBit 1
CommIoStatus 2
CommIoUartStatus 8
GetPortBit 3
IsDriverInstalled 4
PortIn 5
PortOut 6
SetPortBit 7"
shifted="$(while read -r name index; do echo "$name $((index + ${base:-1}))"; done <<<"$ordinals")"
[ "$shifted" = "$expected_ordinals" ] || fail "ordinals differ: $(echo $shifted)"
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

[ "$status" = 0 ] && echo "io.dll: 8 exports at their ordinals, imports ADVAPI32.dll, KERNEL32.dll and msvcrt.dll, no port instruction in ${#objects[@]} objects and archives"
exit "$status"
