#!/usr/bin/env bash
# Compiles hosts against Zelbin_Serial.h the ways hosts do: a 32-bit C and
# C++ host with warnings as errors, and a 64-bit one, which must stop with
# the header's own message.
# Usage: check-header.sh MINGW_CC CLANG LIBRARY_DIR
set -uo pipefail
cc="$1"
clang="$2"
include="$3"
here="$(cd "$(dirname "$0")" && pwd)"
warnings=(-Wall -Wextra -Wcast-function-type -Wpedantic -Werror)
passed=0
failed=0
check() { # name status
    if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "ok   $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}

"$cc" -fsyntax-only "${warnings[@]}" -I"$include" -x c "$here/LoadsTheFunctions.c"
check "a C host loads the five functions without a warning" $?
"$cc" -fsyntax-only "${warnings[@]}" -Wold-style-cast -I"$include" -x c++ "$here/LoadsTheFunctions.c"
check "a C++ host loads the five functions without a warning" $?

out="$("$clang" --target=x86_64-pc-windows-msvc -fsyntax-only -I"$include" -x c "$include/Zelbin_Serial.h" 2>&1)"
[ $? -ne 0 ] && grep -q 'Zelbin_Serial.dll is a 32-bit x86 DLL' <<<"$out"
check "a 64-bit build stops with the header's message" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
