#!/usr/bin/env bash
# The release zip as a host developer gets it: unzipped, it holds what the
# release lists, CR LF text files whose checksums match; every shipped
# header compiles from it alone; and CMake hosts find the package in it and
# build, one with MinGW and one MSVC-style (clang and lld-link), each then
# run under Wine where this machine can run Windows programs.
# Usage: check-release-zip.sh SOURCE_DIR BUILD_DIR WINEPREFIX
set -uo pipefail
src="$(realpath "$1")"
build="$(realpath "$2")"
prefix="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0
check() { # name status [log file]
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1)); echo "ok   $1"
    else
        failed=$((failed + 1)); echo "FAIL $1"; [ -n "${3:-}" ] && tail -15 "$3" | sed 's/^/     /'
    fi
}

cmake --install "$build" --prefix "$work/dist" >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }
zip="$("$src/scripts/release.sh" "$work/dist" "$work/out")" || exit 1
(cd "$work" && unzip -q "$zip")
top="$work/$(basename "$zip" .zip)"

(cd "$top" && sha256sum -c --quiet SHA256SUMS) >"$work/sums.log" 2>&1
check "the unzipped files match SHA256SUMS" $? "$work/sums.log"
lf_only="$(cd "$top" && for f in README.txt CHANGELOG.md SHA256SUMS include/*.h lib/*.def lib/cmake/Zelbin_Serial/*.cmake \
    kits/*/* commio/io-ports.txt stand-in-for-tests-only/StandInIo.h; do
    grep -q $'[^\r]$' "$f" && echo "$f"; done)"
[ -z "$lf_only" ]
check "every text file has CR LF line ends${lf_only:+ (not: $lf_only)}" $?

# Each header alone, with nothing but the unzipped folder on the include path.
cc=i686-w64-mingw32-gcc-win32
for header in include/Zelbin_Serial.h include/Zelbin_SerialLoader.h include/IoDll.h include/CommPortIo.h \
    stand-in-for-tests-only/StandInIo.h; do
    for language in c c++; do
        echo "#include \"$(basename "$header")\"" | "$cc" -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
            -I"$top/$(dirname "$header")" -x "$language" - >"$work/header.log" 2>&1
        check "$header compiles from the release alone as $language" $? "$work/header.log"
    done
done

host="$src/tests/release/cmake-host"
run_host() { # name exe-dir
    local status
    if ! "$src/scripts/wine-usable.sh" >/dev/null 2>&1; then
        skipped=$((skipped + 1))
        echo "skip $1 runs a whole session under Wine: this machine runs no Windows programs"
        return
    fi
    (cd "$2" && "$src/scripts/wine-run.sh" "$prefix" "$2/cmake_host.exe") >"$work/run.log" 2>&1
    status=$?
    check "$1 runs a whole session under Wine" $status "$work/run.log"
}

cmake -S "$host" -B "$work/mingw" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$host/mingw-toolchain.cmake" \
    -DCMAKE_PREFIX_PATH="$top" >"$work/mingw.log" 2>&1 &&
    cmake --build "$work/mingw" >>"$work/mingw.log" 2>&1 && [ -f "$work/mingw/Zelbin_Serial.dll" ]
check "a MinGW host finds Zelbin_Serial 1.2 with CMake, links Zelbin::Serial and gets the DLL beside it" $? \
    "$work/mingw.log"
grep -q 'lib/libZelbin_Serial.dll.a' "$work/mingw/build.ninja" 2>/dev/null
check "the MinGW host links the MinGW import library" $?
run_host "the MinGW host" "$work/mingw"

printf 'LIBRARY KERNEL32.dll\nEXPORTS\n    ExitProcess@4\n    GetModuleHandleA@4\n    GetProcAddress@8\n' >"$work/kernel32.def"
llvm-dlltool -m i386 -k -d "$work/kernel32.def" -l "$work/kernel32.lib"
cmake -S "$host" -B "$work/msvc" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$host/msvc-toolchain.cmake" \
    -DCMAKE_PREFIX_PATH="$top" -DZELBIN_HOST_MSVC_STYLE=ON -DZELBIN_HOST_KERNEL32="$work/kernel32.lib" \
    >"$work/msvc.log" 2>&1 && cmake --build "$work/msvc" >>"$work/msvc.log" 2>&1 && [ -f "$work/msvc/cmake_host.exe" ]
check "an MSVC-style host (clang, lld-link) finds the package and links it" $? "$work/msvc.log"
grep -q 'lib/Zelbin_Serial.lib' "$work/msvc/build.ninja" 2>/dev/null
check "the MSVC-style host links the COFF import library" $?
run_host "the MSVC-style host" "$work/msvc"

# A 64-bit project must not take the 32-bit package.
mkdir -p "$work/wide"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(Wide C)\nfind_package(Zelbin_Serial 1.2 QUIET)\nif(Zelbin_Serial_FOUND)\n  message(FATAL_ERROR "found")\nendif()\n' \
    >"$work/wide/CMakeLists.txt"
cmake -S "$work/wide" -B "$work/wide/build" -G Ninja -DCMAKE_PREFIX_PATH="$top" >"$work/wide.log" 2>&1
check "a 64-bit project finds no suitable Zelbin_Serial" $? "$work/wide.log"

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
