#!/usr/bin/env bash
# The release: both editions, each in a folder of its own (x86/, x64/),
# with what they share once at the top (the headers, the CMake package,
# which picks the folder of the project's own architecture, and the host
# kits), the guides as HTML, and SHA256SUMS over all. A host developer
# shipping for both, or an AnyCPU .NET host, needs both; one download keeps
# them from one commit under one SHA256SUMS.
#
# Each edition's folder works as it stands: the comm-port io.dll and its
# port map lie beside Zelbin_Serial.dll and the testers, where Windows
# looks first for the io.dll the key library imports.
#
# Byte for byte the same for the same commit: fixed file times (the
# commit's), fixed modes, sorted names, no extra zip fields; text files with
# CR LF line ends, as Windows editors expect.
#
# Usage: scripts/release.sh INSTALLS TREE          the release, unzipped, in TREE (make dist)
#        scripts/release.sh --zip INSTALLS OUT_DIR  the release zipped into OUT_DIR; prints the zip's path
# INSTALLS holds each edition's install (cmake --install): INSTALLS/x86 and
# INSTALLS/x64.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)/.."
zip_it=0
if [ "${1:-}" = --zip ]; then
    zip_it=1
    shift
fi
[ $# -eq 2 ] || { echo "usage: release.sh [--zip] INSTALLS TREE|OUT_DIR" >&2; exit 2; }
installs="$(realpath "$1")"
out="$(realpath -m "$2")"
# The version CMake built with, from the package version file it wrote.
version="$(cmake -DFILE="$installs/x86/lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake" \
    -P "$root/cmake/PrintPackageVersion.cmake")"
[ -n "$version" ] || { echo "release.sh: no package version in $installs/x86 (run make dist first)" >&2; exit 1; }
name="Zelbin_Serial-$version-windows"
# The commit's time; outside a git checkout, the earliest time a zip holds.
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"

# What ships, relative to an edition's install, which is laid out as the
# edition's folder of the release with the shared files beside it. Shared:
# taken from the 32-bit install, and the 64-bit one must hold the same bytes.
shared=(
    include/Zelbin_Serial.h include/Zelbin_SerialLoader.h include/IoDll.h include/CommPortIo.h
    lib/cmake/Zelbin_Serial/Zelbin_SerialConfig.cmake lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake
    kits/pascal/ZelbinSerial.pas kits/pascal/ZelbinSerialDynamic.pas kits/csharp/ZelbinSerial.cs
)
edition=(
    Zelbin_Serial.dll Zelbin_Serial.dll.debug io.dll io-ports.txt zelbin-keytest.exe zelbin-keytest-gui.exe
    lib/Zelbin_Serial.def lib/libZelbin_Serial.dll.a lib/Zelbin_Serial.lib
    stand-in-for-tests-only/io.dll stand-in-for-tests-only/StandInIo.h
    stand-in-for-tests-only/zelbin-virtualkey.exe
)
take() { # install-dir zip-folder file...
    local from_dir="$1" to_dir="$2" file
    shift 2
    for file in "$@"; do
        [ -f "$from_dir/$file" ] || { echo "release.sh: missing $from_dir/$file (run make dist first)" >&2; exit 1; }
        mkdir -p "$(dirname "$pkg/$to_dir$file")"
        cp "$from_dir/$file" "$pkg/$to_dir$file"
    done
}
take "$installs/x86" "" "${shared[@]}"
for arch in x86 x64; do
    take "$installs/$arch" "$arch/" "${edition[@]}"
done
for file in "${shared[@]}"; do
    cmp -s "$installs/x86/$file" "$installs/x64/$file" ||
        { echo "release.sh: $file differs between the two editions' installs" >&2; exit 1; }
done

# A file an install holds but the lists leave out would silently not ship.
listed="$(printf '%s\n' "${shared[@]}" "${edition[@]}")"
for arch in x86 x64; do
    while IFS= read -r file; do
        grep -qxF -- "$file" <<<"$listed" ||
            { echo "release.sh: $installs/$arch/$file is installed but not in the release's list" >&2; exit 1; }
    done < <(cd "$installs/$arch" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
done

sed "s/@VERSION@/$version/g" "$root/scripts/release-readme.txt" >"$pkg/README.txt"
cp "$root/CHANGELOG.md" "$pkg/CHANGELOG.md"
# The guides, as HTML a Windows user opens with a double click.
mkdir -p "$pkg/docs"
for guide in technician host-developer; do
    /usr/bin/python3 "$root/scripts/guide-html.py" "$root/docs/$guide.md" "$pkg/docs/$guide.html"
done
cp "$root/docs/keytest-window.png" "$pkg/docs/"
# Every text file gets CR LF line ends (idempotent: a CR already there stays one).
find "$pkg" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.h' -o -name '*.def' -o -name '*.cmake' \
    -o -name '*.pas' -o -name '*.cs' -o -name '*.html' \) -exec sed -i 's/\r*$/\r/' {} +
(cd "$pkg" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum |
    sed 's/$/\r/' >SHA256SUMS)

find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
find "$pkg" -exec touch -h -d "@$epoch" {} +
if [ "$zip_it" -eq 0 ]; then
    # Only an earlier tree of the release is replaced, never another folder.
    if [ -e "$out" ] && [ -n "$(ls -A "$out" 2>/dev/null)" ] && [ ! -f "$out/SHA256SUMS" ]; then
        echo "release.sh: $out is there and holds no release; not replacing it" >&2
        exit 1
    fi
    rm -rf "$out"
    mkdir -p "$(dirname "$out")"
    cp -a "$pkg" "$out"
    exit 0
fi
mkdir -p "$out"
zip="$out/$name.zip"
rm -f "$zip"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$zip" -@)
echo "$zip"
