#!/usr/bin/env bash
# The release zip as a host developer gets it: unzipped, it holds what the
# release lists, CR LF text files whose checksums match; each edition's DLL
# has the five exports at their ordinals; every shipped header compiles from
# it alone for both editions; its bill of materials is valid CycloneDX and
# names every binary's bytes (check-sbom.py); CMake hosts of both editions
# find the package in it and build, with MinGW and MSVC-style (clang and
# lld-link), each then run under Wine where this machine runs that edition's
# programs (x64 everywhere); and a project handed the other edition's files
# is refused.
# Usage: check-release-zip.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR WINEPREFIX [ZIP]
#   ZIP: a release zip made already (a signed one), checked in place of one
#   made here from the builds.
set -uo pipefail
src="$(realpath "$1")"
prefix="$4"
given_zip="${5:+$(realpath "$5")}"
. "$(dirname "$0")/both-editions.sh" "$2" "$3"
. "$(dirname "$0")/checks.sh"

install_editions "$work/installs"
zip="$given_zip"
[ -n "$zip" ] || zip="$("$src/scripts/release.sh" --zip "$work/installs" "$work/out")" || exit 1
(cd "$work" && unzip -q "$zip")
top="$work/$(basename "$zip" .zip)"

(cd "$top" && sha256sum -c --quiet SHA256SUMS) >"$work/sums.log" 2>&1
check "the unzipped files match SHA256SUMS" $? "$work/sums.log"
lf_only="$(cd "$top" && for f in README.txt CHANGELOG.md LICENSE.txt SHA256SUMS sbom.cdx.json include/*.h lib/cmake/Zelbin_Serial/*.cmake \
    kits/*/* x86/lib/*.def x64/lib/*.def x86/io-ports.txt x64/io-ports.txt docs/*.html \
    x86/stand-in-for-tests-only/StandInIo.h x64/stand-in-for-tests-only/StandInIo.h; do
    grep -q $'[^\r]$' "$f" && echo "$f"; done)"
[ -z "$lf_only" ]
check "every text file has CR LF line ends${lf_only:+ (not: $lf_only)}" $?

version="$(basename "$top" | sed 's/^Zelbin_Serial-\(.*\)-windows$/\1/')"
/usr/bin/python3 "$src/tests/release/check-sbom.py" "$top" "$version" \
    "$(npm root -g)/@cyclonedx/cyclonedx-library/res/schema" >"$work/sbom.log" 2>&1
check "sbom.cdx.json: valid CycloneDX, every binary's SHA-256 as shipped, what was linked into it" $? "$work/sbom.log"

for arch in x86 x64; do
    objdump=i686-w64-mingw32-objdump
    [ "$arch" = x64 ] && objdump=x86_64-w64-mingw32-objdump
    "$src/tests/dll/check-pe-tables.sh" "$objdump" "$top/$arch/Zelbin_Serial.dll" "$arch" >"$work/pe.log" 2>&1
    check "$arch/Zelbin_Serial.dll: an $arch image, five exports at ordinals 1-5, imports from the system and io.dll" \
        $? "$work/pe.log"
done

# Each header alone, with nothing but the unzipped folder on the include path.
for cc in i686-w64-mingw32-gcc-win32 x86_64-w64-mingw32-gcc-win32; do
    for header in include/Zelbin_Serial.h include/Zelbin_SerialLoader.h include/IoDll.h include/CommPortIo.h \
        x86/stand-in-for-tests-only/StandInIo.h; do
        for language in c c++; do
            echo "#include \"$(basename "$header")\"" | "$cc" -fsyntax-only -Wall -Wextra -Wpedantic -Werror \
                -I"$top/$(dirname "$header")" -x "$language" - >"$work/header.log" 2>&1
            check "$header compiles from the release alone as $language (${cc%%-*})" $? "$work/header.log"
        done
    done
done

host="$src/tests/release/cmake-host"
run_host() { # name exe-dir arch
    local status why
    if ! why="$(ZELBIN_ARCH="$3" "$src/scripts/wine-usable.sh" "$3" 2>&1)"; then
        skipped=$((skipped + 1))
        echo "skip $1 runs a whole session under Wine: ${why#SKIPPED: }"
        return
    fi
    (cd "$2" && ZELBIN_ARCH=x64 "$src/scripts/wine-run.sh" "$prefix" "$2/cmake_host.exe") >"$work/run.log" 2>&1
    status=$?
    check "$1 runs a whole session under Wine" $status "$work/run.log"
}
configure_host() { # build-dir arch toolchain [cmake args...]
    local dir="$1" arch="$2" toolchain="$3"
    shift 3
    cmake -S "$host" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$host/$toolchain" -DZELBIN_HOST_ARCH="$arch" \
        -DCMAKE_PREFIX_PATH="$top" "$@" >"$dir.log" 2>&1 && cmake --build "$dir" >>"$dir.log" 2>&1
}

for arch in x86 x64; do
    configure_host "$work/mingw-$arch" "$arch" mingw-toolchain.cmake && [ -f "$work/mingw-$arch/Zelbin_Serial.dll" ]
    check "an $arch MinGW host finds Zelbin_Serial 1.2 with CMake, links Zelbin::Serial and gets the DLL beside it" $? \
        "$work/mingw-$arch.log"
    grep -q "$arch/lib/libZelbin_Serial.dll.a" "$work/mingw-$arch/build.ninja" 2>/dev/null
    check "the $arch MinGW host links the $arch MinGW import library" $?
    run_host "the $arch MinGW host" "$work/mingw-$arch" "$arch"

    machine=i386
    [ "$arch" = x64 ] && machine=i386:x86-64
    printf 'LIBRARY KERNEL32.dll\nEXPORTS\n    ExitProcess@4\n    GetModuleHandleA@4\n    GetProcAddress@8\n' \
        >"$work/kernel32-$arch.def"
    [ "$arch" = x64 ] && sed -i 's/@[0-9]*$//' "$work/kernel32-$arch.def"
    llvm-dlltool -m "$machine" -k -d "$work/kernel32-$arch.def" -l "$work/kernel32-$arch.lib"
    configure_host "$work/msvc-$arch" "$arch" msvc-toolchain.cmake -DZELBIN_HOST_MSVC_STYLE=ON \
        -DZELBIN_HOST_KERNEL32="$work/kernel32-$arch.lib" && [ -f "$work/msvc-$arch/cmake_host.exe" ]
    check "an $arch MSVC-style host (clang, lld-link) finds the package and links it" $? "$work/msvc-$arch.log"
    grep -q "$arch/lib/Zelbin_Serial.lib" "$work/msvc-$arch/build.ninja" 2>/dev/null
    check "the $arch MSVC-style host links the $arch COFF import library" $?
    run_host "the $arch MSVC-style host" "$work/msvc-$arch" "$arch"
done

# A 64-bit project handed the 32-bit files (x86's copied over x64/) is
# refused, with a message naming the file and both architectures.
cp -r "$top" "$work/mixed"
cp "$top/x86/Zelbin_Serial.dll" "$work/mixed/x64/Zelbin_Serial.dll"
mkdir -p "$work/wide"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(Wide C)\nfind_package(Zelbin_Serial 1.2 REQUIRED)\n' \
    >"$work/wide/CMakeLists.txt"
cmake -S "$work/wide" -B "$work/wide/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$host/mingw-toolchain.cmake" \
    -DZELBIN_HOST_ARCH=x64 -DCMAKE_PREFIX_PATH="$work/mixed" >"$work/wide.log" 2>&1
[ $? -ne 0 ] && tr -s ' \n' ' ' <"$work/wide.log" |
    grep -q 'x64/Zelbin_Serial.dll is an x86 (32-bit) DLL, but this project builds for x64'
check "a 64-bit project handed a 32-bit Zelbin_Serial.dll is refused, both architectures named" $? "$work/wide.log"

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
