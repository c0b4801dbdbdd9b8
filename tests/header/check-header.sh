#!/usr/bin/env bash
# Compiles hosts against the shipped headers the ways hosts do: a C and C++
# host of the build's edition (MINGW_CC) with warnings as errors, each header
# alone, the main header without <windows.h>, and MSVC-style hosts (clang)
# of both editions.
# Usage: check-header.sh MINGW_CC CLANG INCLUDE_DIR...
set -uo pipefail
cc="$1"
clang="$2"
shift 2
includes=()
for dir in "$@"; do includes+=(-I"$dir"); done
here="$(cd "$(dirname "$0")" && pwd)"
warnings=(-Wall -Wextra -Wcast-function-type -Wpedantic -Werror)
passed=0
failed=0
check() { # name status
    if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "ok   $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}

"$cc" -fsyntax-only "${warnings[@]}" "${includes[@]}" -x c "$here/LoadsTheFunctions.c"
check "a C host loads the five functions without a warning" $?
"$cc" -fsyntax-only "${warnings[@]}" -Wold-style-cast "${includes[@]}" -x c++ "$here/LoadsTheFunctions.c"
check "a C++ host loads the five functions without a warning" $?

for header in Zelbin_Serial.h Zelbin_SerialLoader.h IoDll.h CommPortIo.h; do
    for language in c c++; do
        echo "#include \"$header\"" | "$cc" -fsyntax-only "${warnings[@]}" "${includes[@]}" -x "$language" -
        check "$header compiles alone as $language" $?
    done
done

# The main header declares the exports without Windows' headers.
out="$(printf '#include "Zelbin_Serial.h"\n#ifdef _WINDOWS_\n#error windows.h came along\n#endif\n' |
    "$cc" -fsyntax-only "${warnings[@]}" "${includes[@]}" -x c - 2>&1)"
check "Zelbin_Serial.h needs and brings no <windows.h>" $?

# No Windows SDK here: the main header, which needs none, as MSVC's C sees it.
for target in i686-pc-windows-msvc x86_64-pc-windows-msvc; do
    echo '#include "Zelbin_Serial.h"' | "$clang" --target="$target" -fsyntax-only "${warnings[@]}" "${includes[@]}" -x c -
    check "Zelbin_Serial.h compiles for an MSVC-style host ($target) without a warning" $?
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
