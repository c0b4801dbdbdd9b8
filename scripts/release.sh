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
# The zip is signed when a certificate is given (scripts/signing.sh says
# how): every PE file of both editions gets an Authenticode signature before
# the bill of materials and SHA256SUMS are written, so that both are of the
# bytes that ship. A certificate that can't sign stops the release before
# anything is signed, and a failure leaves no zip and no half-signed tree.
#
# sbom.cdx.json, the bill of materials (scripts/sbom.py), names every binary
# with its SHA-256 and what the linker put into it from the toolchain.
#
# Byte for byte the same for the same commit: fixed file times (the
# commit's), fixed modes, sorted names, no extra zip fields; text files with
# CR LF line ends, as Windows editors expect. A signed release is not: each
# signature carries the time it was made.
#
# Usage: scripts/release.sh INSTALLS TREE          the release, unzipped, in TREE (make dist); never signed
#        scripts/release.sh --zip INSTALLS OUT_DIR [TREE]
#                                                   the release zipped into OUT_DIR, signed when asked, and
#                                                   unzipped in TREE too; prints the zip's path
# INSTALLS holds each edition's install (cmake --install): INSTALLS/x86 and
# INSTALLS/x64.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)/.."
. "$root/scripts/signing.sh"
zip_it=0
if [ "${1:-}" = --zip ]; then
    zip_it=1
    shift
fi
[ $# -eq 2 ] || { [ "$zip_it" -eq 1 ] && [ $# -eq 3 ]; } ||
    { echo "usage: release.sh INSTALLS TREE | release.sh --zip INSTALLS OUT_DIR [TREE]" >&2; exit 2; }
installs="$(realpath "$1")"
out="$(realpath -m "$2")"
tree=""
[ "$zip_it" -eq 0 ] && tree="$out"
[ $# -eq 3 ] && tree="$(realpath -m "$3")"
# The version CMake built with, from the package version file it wrote.
version="$(cmake -DFILE="$installs/x86/lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake" \
    -P "$root/cmake/PrintPackageVersion.cmake")"
[ -n "$version" ] || { echo "release.sh: no package version in $installs/x86 (run make dist first)" >&2; exit 1; }
name="Zelbin_Serial-$version-windows"
# The commit's time; outside a git checkout, the earliest time a zip holds.
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
zip=""
trap 'rm -rf "$stage"; [ -z "$zip" ] || rm -f "$zip.part"' EXIT
pkg="$stage/$name"

# Only an earlier tree of the release is replaced, never another folder.
if [ -n "$tree" ] && [ -e "$tree" ] && [ -n "$(ls -A "$tree" 2>/dev/null)" ] && [ ! -f "$tree/SHA256SUMS" ]; then
    echo "release.sh: $tree is there and holds no release; not replacing it" >&2
    exit 1
fi
# A zip of this version left from before would pass for this release's,
# should this one fail.
if [ "$zip_it" -eq 1 ]; then
    zip="$out/$name.zip"
    rm -f "$zip"
fi
sign=0
if [ "$zip_it" -eq 1 ] && signing_check "$stage"; then
    sign=1
fi

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
    done < <(cd "$installs/$arch" && find . -type f ! -path './links/*' | sed 's|^\./||' | LC_ALL=C sort)
done

# Every PE file that Windows loads, both editions; not the .debug files,
# which nothing loads and whose checksum the DLL's debuglink holds.
if [ "$sign" -eq 1 ]; then
    mapfile -t binaries < <(cd "$pkg" && find x86 x64 -type f \( -name '*.dll' -o -name '*.exe' \) | LC_ALL=C sort)
    (cd "$pkg" && signing_sign "${binaries[@]}")
    echo "release.sh: signed ${#binaries[@]} files as $signing_certificate${ZELBIN_SIGN_TIMESTAMP_URL:+, time-stamped by $ZELBIN_SIGN_TIMESTAMP_URL}" >&2
fi
/usr/bin/python3 "$root/scripts/sbom.py" "$installs" "$pkg" "$version" "$epoch" >"$pkg/sbom.cdx.json"

sed "s/@VERSION@/$version/g" "$root/scripts/release-readme.txt" >"$pkg/README.txt"
cp "$root/CHANGELOG.md" "$pkg/CHANGELOG.md"
cp "$root/LICENSE.txt" "$pkg/LICENSE.txt"
# The guides, as HTML a Windows user opens with a double click.
mkdir -p "$pkg/docs"
for guide in technician host-developer; do
    /usr/bin/python3 "$root/scripts/guide-html.py" "$root/docs/$guide.md" "$pkg/docs/$guide.html"
done
cp "$root"/docs/keytest-window*.png "$pkg/docs/"
# Every text file gets CR LF line ends (idempotent: a CR already there stays one).
find "$pkg" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.h' -o -name '*.def' -o -name '*.cmake' \
    -o -name '*.pas' -o -name '*.cs' -o -name '*.html' -o -name '*.json' \) -exec sed -i 's/\r*$/\r/' {} +
(cd "$pkg" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum |
    sed 's/$/\r/' >SHA256SUMS)

find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
find "$pkg" -exec touch -h -d "@$epoch" {} +
if [ "$zip_it" -eq 1 ]; then
    # Made aside and renamed: the zip is there whole or not at all.
    mkdir -p "$out"
    (cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$stage/$name.zip" -@)
    mv "$stage/$name.zip" "$zip.part"
    mv "$zip.part" "$zip"
fi
if [ -n "$tree" ]; then
    rm -rf "$tree"
    mkdir -p "$(dirname "$tree")"
    cp -a "$pkg" "$tree"
fi
[ "$zip_it" -eq 0 ] || echo "$zip"
