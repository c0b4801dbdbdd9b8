#!/usr/bin/env bash
# The CMake package as a host project meets it, in the release's layout
# (scripts/release.sh over both editions' installs):
# - its word on each load fault, for a 64-bit project (and the faults of the
#   other architecture for a 32-bit one): the DLL or its io.dll missing from
#   the edition's folder, or of the other architecture; find_package must
#   refuse each at configure time, and check-load-faults.py judges the
#   reason it gives; an io.dll that is no Windows DLL at all is refused too;
# - the usage snippets, in the package's own comment and in the host
#   developer's guide, built as they stand into a host that must end up with
#   the edition's Zelbin_Serial.dll and io.dll beside it.
# Configures with the project's MinGW toolchains; runs no Windows program.
# Usage: check-cmake-package.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR
set -uo pipefail
src="$(realpath "$1")"
. "$src/tests/release/both-editions.sh" "$2" "$3"
. "$src/tests/release/checks.sh"
. "$src/tests/kits/fault-folders.sh"
toolchain="$src/tests/release/cmake-host/mingw-toolchain.cmake"

install_editions "$work/installs"
top="$work/release"
"$src/scripts/release.sh" "$work/installs" "$top" >"$work/release.log" 2>&1 || { cat "$work/release.log"; exit 1; }

# A project that only finds the package; its configure log.
mkdir -p "$work/finds"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(Finds C)\nfind_package(Zelbin_Serial 1.2 REQUIRED)\n' \
    >"$work/finds/CMakeLists.txt"
configure() { # prefix arch log
    cmake -S "$work/finds" -B "$1-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZELBIN_HOST_ARCH="$2" \
        -DCMAKE_PREFIX_PATH="$1" >"$3" 2>&1
}
# The reason find_package gives, on one line (CMake wraps it).
reason() { # log
    sed -n '/Reason given by package:/,/^\(-- \|Call Stack\|CMake \)/p' "$1" | sed '1d;$d' | tr -s ' \n' ' ' |
        sed 's/^ //;s/ $//'
}

# Each fault as a release in which the edition's folder holds what
# fault-folders.sh put in the fault's folder, with the import libraries.
other_of() { [ "$1" = x64 ] && echo x86 || echo x64; }
lines=""
for arch in x64 x86; do
    other="$(other_of "$arch")"
    fault_folders "$work/faults-$arch" "$top/$arch/Zelbin_Serial.dll" "$top/$arch/io.dll" \
        "$top/$other/Zelbin_Serial.dll" "$top/$other/io.dll"
    faults=("${FAULTS[@]}")
    [ "$arch" = x86 ] && faults=(wrong-dll wrong-io)
    for fault in "${faults[@]}"; do
        prefix="$work/prefix-$arch-$fault"
        mkdir -p "$prefix/lib" "$prefix/$arch"
        cp -r "$top/include" "$prefix/"
        cp -r "$top/lib/cmake" "$prefix/lib/"
        cp -r "$top/$arch/lib" "$work/faults-$arch/$fault/." "$prefix/$arch/"
        if configure "$prefix" "$arch" "$work/$fault-$arch.log"; then
            message="configured"
        else
            message="$(reason "$work/$fault-$arch.log")"
        fi
        lines+="$fault"$'\t'"$prefix/$arch/Zelbin_Serial.dll"$'\t'"$prefix/$arch/io.dll"$'\t'"$arch"$'\t'"$message"$'\n'
    done
done
/usr/bin/python3 "$src/tests/kits/check-load-faults.py" "the CMake package" <<<"$lines" >"$work/faults.log"
grep '^ok\|^FAIL\|^     ' "$work/faults.log"
passed=$((passed + $(grep -c '^ok' "$work/faults.log")))
failed=$((failed + $(grep -c '^FAIL' "$work/faults.log")))

prefix="$work/prefix-x64-no-dll"
cp -r "$work/prefix-x64-wrong-io" "$prefix"
: >"$prefix/x64/io.dll"
configure "$prefix" x64 "$work/no-dll.log"
[ $? -ne 0 ] && reason "$work/no-dll.log" | grep -qF "$prefix/x64/io.dll is no Windows DLL of a known architecture"
check "an empty io.dll is refused by name as no Windows DLL, without a CMake error of its own" $? "$work/no-dll.log"

configure "$top" x64 "$work/right.log"
check "the release as it is configures for x64" $? "$work/right.log"

# The snippets as they stand, the lines after their find_package comment.
snippet_of_package() {
    tr -d '\r' <"$top/lib/cmake/Zelbin_Serial/Zelbin_SerialConfig.cmake" |
        sed -n '/^#   find_package(Zelbin_Serial/,/^#$/p' | sed '$d' | sed 's/^#   //'
}
snippet_of_guide() {
    sed -n '/^### Hosts in C and C++ with CMake/,/^### /p' "$src/docs/host-developer.md" |
        sed -n '/^```cmake$/,/^```$/p' | sed '1d;$d'
}
for source in package guide; do
    project="$work/snippet-$source"
    mkdir -p "$project"
    {
        printf 'cmake_minimum_required(VERSION 3.25)\nproject(Snippet C)\nadd_executable(host host.c)\n'
        "snippet_of_$source"
    } >"$project/CMakeLists.txt"
    printf '#include "Zelbin_Serial.h"\nint main(void) { return ZelbinIsCustom() == 1 ? 0 : 1; }\n' >"$project/host.c"
    cmake -S "$project" -B "$project/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZELBIN_HOST_ARCH=x64 \
        -DCMAKE_PREFIX_PATH="$top" >"$project.log" 2>&1 && cmake --build "$project/build" >>"$project.log" 2>&1 &&
        cmp -s "$project/build/Zelbin_Serial.dll" "$top/x64/Zelbin_Serial.dll" &&
        cmp -s "$project/build/io.dll" "$top/x64/io.dll"
    check "the $source's usage snippet, as it stands, builds a host with the x64 Zelbin_Serial.dll and io.dll beside it" \
        $? "$project.log"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
