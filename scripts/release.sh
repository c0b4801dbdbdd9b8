#!/usr/bin/env bash
# Packs an installed Windows build into the release zip, byte for byte the
# same for the same commit: fixed file times (the commit's), fixed modes,
# sorted names, no extra zip fields.
# Usage: scripts/release.sh DIST_DIR OUT_DIR     prints the zip's path
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dist="$(realpath "$1")"
out="$(realpath -m "$2")"
version="$(sed -n 's/^project(ZelbinSerial VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
[ -n "$version" ] || { echo "release.sh: no project version in CMakeLists.txt" >&2; exit 1; }
name="Zelbin_Serial-$version-win32"
# The commit's time; outside a git checkout, the earliest time a zip holds.
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
pkg="$stage/$name"
mkdir -p "$pkg/commio" "$pkg/stand-in-for-tests-only"

put() { # source destination-in-package
    [ -f "$1" ] || { echo "release.sh: missing $1 (run make dist first)" >&2; exit 1; }
    cp "$1" "$pkg/$2"
}
for file in Zelbin_Serial.dll Zelbin_Serial.dll.debug Zelbin_Serial.h Zelbin_SerialLoader.h IoDll.h CommPortIo.h \
    Zelbin_Serial.def libZelbin_Serial.dll.a Zelbin_Serial.lib zelbin-keytest.exe; do
    put "$dist/$file" "$file"
done
for file in "$dist"/commio/*; do
    [ -f "$file" ] && put "$file" "commio/$(basename "$file")"
done
for file in io.dll StandInIo.h zelbin-virtualkey.exe; do
    put "$dist/sim/$file" "stand-in-for-tests-only/$file"
done
sed "s/@VERSION@/$version/g" "$root/scripts/release-readme.txt" >"$pkg/README.txt"
cp "$root/CHANGELOG.md" "$pkg/CHANGELOG.md"
(cd "$pkg" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
find "$pkg" -exec touch -h -d "@$epoch" {} +
mkdir -p "$out"
zip="$out/$name.zip"
rm -f "$zip"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q -9 "$zip" -@)
echo "$zip"
