#!/usr/bin/env bash
# Packs an installed Windows build into the release zip, byte for byte the
# same for the same commit: fixed file times (the commit's), fixed modes,
# sorted names, no extra zip fields; text files with CR LF line ends, as
# Windows editors expect.
# Usage: scripts/release.sh DIST_DIR OUT_DIR     prints the zip's path
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(realpath "$1")"
out="$(realpath -m "$2")"
# The version CMake built with, from the package version file it wrote.
version="$(cmake -DFILE="$dist/lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake" \
    -P "$root/cmake/PrintPackageVersion.cmake")"
[ -n "$version" ] || { echo "release.sh: no package version in $dist (run make dist first)" >&2; exit 1; }
name="Zelbin_Serial-$version-win32"
# The commit's time; outside a git checkout, the earliest time a zip holds.
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"

# What ships, as "installed path -> path in the zip". The stand-in and the
# virtual key, in sim/ of an installed build, go apart from the product.
manifest=(
    Zelbin_Serial.dll Zelbin_Serial.dll.debug zelbin-keytest.exe zelbin-keytest-gui.exe
    include/Zelbin_Serial.h include/Zelbin_SerialLoader.h include/IoDll.h include/CommPortIo.h
    lib/Zelbin_Serial.def lib/libZelbin_Serial.dll.a lib/Zelbin_Serial.lib
    lib/cmake/Zelbin_Serial/Zelbin_SerialConfig.cmake lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake
    kits/pascal/ZelbinSerial.pas kits/pascal/ZelbinSerialDynamic.pas kits/csharp/ZelbinSerial.cs
    commio/io.dll commio/io-ports.txt
    "sim/io.dll -> stand-in-for-tests-only/io.dll"
    "sim/StandInIo.h -> stand-in-for-tests-only/StandInIo.h"
    "sim/zelbin-virtualkey.exe -> stand-in-for-tests-only/zelbin-virtualkey.exe"
)
listed=()
for item in "${manifest[@]}"; do
    from="${item%% -> *}"
    to="${item##* -> }"
    [ -f "$dist/$from" ] || { echo "release.sh: missing $dist/$from (run make dist first)" >&2; exit 1; }
    mkdir -p "$(dirname "$pkg/$to")"
    cp "$dist/$from" "$pkg/$to"
    listed+=("$from")
done
# A file the build installs but the list leaves out would silently not ship.
# The zip holds the 32-bit edition; the 64-bit one, in x64/, is not in it.
while IFS= read -r file; do
    # grep reads all of its input here: an early quit would make printf's
    # SIGPIPE fail the check under pipefail.
    grep -qxF -- "$file" <<<"$(printf '%s\n' "${listed[@]}")" ||
        { echo "release.sh: $dist/$file is installed but not in the release's list" >&2; exit 1; }
done < <(cd "$dist" && find . -type f ! -name '*.zip' ! -path './x64/*' | sed 's|^\./||' | LC_ALL=C sort)

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
