#!/usr/bin/env bash
# Packs the installed Windows builds into the release zip, byte for byte the
# same for the same commit: fixed file times (the commit's), fixed modes,
# sorted names, no extra zip fields; text files with CR LF line ends, as
# Windows editors expect.
#
# One zip holds both editions, each in a folder of its own (x86/, x64/),
# with what they share once at the top: the headers, the CMake package
# (which picks the folder of the project's own architecture) and the host
# kits. A host developer shipping for both, or an AnyCPU .NET host, needs
# both; one download keeps them from one commit under one SHA256SUMS.
# Usage: scripts/release.sh DIST_DIR OUT_DIR     prints the zip's path
# DIST_DIR holds the 32-bit edition installed at its top and the 64-bit one
# in x64/ (make dist).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(realpath "$1")"
out="$(realpath -m "$2")"
# The version CMake built with, from the package version file it wrote.
version="$(cmake -DFILE="$dist/lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake" \
    -P "$root/cmake/PrintPackageVersion.cmake")"
[ -n "$version" ] || { echo "release.sh: no package version in $dist (run make dist first)" >&2; exit 1; }
name="Zelbin_Serial-$version-windows"
# The commit's time; outside a git checkout, the earliest time a zip holds.
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"

# What ships, as "installed path -> path in the zip", the installed path
# relative to an edition's install. Shared: taken from the 32-bit install,
# and the 64-bit one must hold the same bytes. Each edition's own files go
# to its folder; the stand-in and the virtual key, in sim/ of an install,
# apart from the product.
shared=(
    include/Zelbin_Serial.h include/Zelbin_SerialLoader.h include/IoDll.h include/CommPortIo.h
    lib/cmake/Zelbin_Serial/Zelbin_SerialConfig.cmake lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake
    kits/pascal/ZelbinSerial.pas kits/pascal/ZelbinSerialDynamic.pas kits/csharp/ZelbinSerial.cs
)
edition=(
    Zelbin_Serial.dll Zelbin_Serial.dll.debug zelbin-keytest.exe zelbin-keytest-gui.exe
    lib/Zelbin_Serial.def lib/libZelbin_Serial.dll.a lib/Zelbin_Serial.lib
    commio/io.dll commio/io-ports.txt
    "sim/io.dll -> stand-in-for-tests-only/io.dll"
    "sim/StandInIo.h -> stand-in-for-tests-only/StandInIo.h"
    "sim/zelbin-virtualkey.exe -> stand-in-for-tests-only/zelbin-virtualkey.exe"
)
take() { # install-dir zip-folder item...
    local from_dir="$1" to_dir="$2" item from to
    shift 2
    for item in "$@"; do
        from="${item%% -> *}"
        to="$to_dir${item##* -> }"
        [ -f "$from_dir/$from" ] || { echo "release.sh: missing $from_dir/$from (run make dist first)" >&2; exit 1; }
        mkdir -p "$(dirname "$pkg/$to")"
        cp "$from_dir/$from" "$pkg/$to"
    done
}
take "$dist" "" "${shared[@]}"
take "$dist" x86/ "${edition[@]}"
take "$dist/x64" x64/ "${edition[@]}"
for file in "${shared[@]}"; do
    cmp -s "$dist/$file" "$dist/x64/$file" ||
        { echo "release.sh: $file differs between the two editions' installs" >&2; exit 1; }
done

# A file an install holds but the lists leave out would silently not ship.
listed="$(for item in "${shared[@]}" "${edition[@]}"; do echo "${item%% -> *}"; done)"
for install in "$dist" "$dist/x64"; do
    while IFS= read -r file; do
        grep -qxF -- "$file" <<<"$listed" ||
            { echo "release.sh: $install/$file is installed but not in the release's list" >&2; exit 1; }
    done < <(cd "$install" && find . -path ./x64 -prune -o -type f ! -name '*.zip' -print | sed 's|^\./||' |
        LC_ALL=C sort)
done

sed "s/@VERSION@/$version/g" "$root/scripts/release-readme.txt" >"$pkg/README.txt"
cp "$root/CHANGELOG.md" "$pkg/CHANGELOG.md"
# Every text file gets CR LF line ends (idempotent: a CR already there stays one).
find "$pkg" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.h' -o -name '*.def' -o -name '*.cmake' \
    -o -name '*.pas' -o -name '*.cs' \) -exec sed -i 's/\r*$/\r/' {} +
(cd "$pkg" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum |
    sed 's/$/\r/' >SHA256SUMS)

find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
find "$pkg" -exec touch -h -d "@$epoch" {} +
mkdir -p "$out"
zip="$out/$name.zip"
rm -f "$zip"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$zip" -@)
echo "$zip"
