#!/usr/bin/env bash
# The NuGet package for .NET hosts, Zelbin.Serial.VERSION.nupkg, made from
# the release zip, so that its files are the zip's bytes, signed when the
# zip is:
#   runtimes/win-x86/native/, runtimes/win-x64/native/   each edition's Zelbin_Serial.dll,
#                                 io.dll and io-ports.txt, side by side as in the zip
#   contentFiles/cs/any/Zelbin/ZelbinSerial.cs   the C# class, compiled into a C# host
#                                 (content/ for projects with packages.config)
#   build/Zelbin.Serial.targets   .NET Framework builds: both editions into x86\ and x64\
#   sbom.cdx.json                 the zip's bill of materials of what the package holds,
#                                 by the package's paths
#   README.md, LICENSE.txt, Zelbin.Serial.nuspec and the package's own
#                                 [Content_Types].xml and _rels/.rels
# The C# class ships as source, not as a netstandard2.0 or .NET Framework
# assembly: building one needs .NET's reference assemblies, which Debian's
# Mono lacks (no netstandard.dll, Facades or 4.x-api), and one built against
# Mono's own mscorlib would bind to what nothing here can check against
# .NET. The source compiles into every kind of C# host; the readme shows
# VB.NET hosts the declarations.
#
# The same release zip gives the same bytes: fixed file times (the commit's),
# modes and order, no extra zip fields.
#
# Usage: scripts/nuget.sh INSTALLS OUT_DIR   packs OUT_DIR/Zelbin_Serial-VERSION-windows.zip
#                                            (make release) into OUT_DIR; prints the package's path
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)/.."
[ $# -eq 2 ] || { echo "usage: nuget.sh INSTALLS OUT_DIR" >&2; exit 2; }
installs="$(realpath "$1")"
out="$(realpath -m "$2")"
version="$(cmake -DFILE="$installs/x86/lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake" \
    -P "$root/cmake/PrintPackageVersion.cmake" 2>/dev/null || true)"
[ -n "$version" ] || { echo "nuget.sh: no package version in $installs/x86 (run make dist first)" >&2; exit 1; }
zip="$out/Zelbin_Serial-$version-windows.zip"
[ -f "$zip" ] || { echo "nuget.sh: no release zip $zip (make release makes it)" >&2; exit 1; }
id=Zelbin.Serial
nupkg="$out/$id.$version.nupkg"
epoch="$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"; rm -f "$nupkg.part"' EXIT
unzip -q "$zip" -d "$stage/zip"
release="$stage/zip/Zelbin_Serial-$version-windows"
pkg="$stage/pkg"
mkdir -p "$pkg"

for arch in x86 x64; do
    mkdir -p "$pkg/runtimes/win-$arch/native"
    for file in Zelbin_Serial.dll io.dll io-ports.txt; do
        cp "$release/$arch/$file" "$pkg/runtimes/win-$arch/native/$file"
    done
done
mkdir -p "$pkg/contentFiles/cs/any/Zelbin" "$pkg/content/Zelbin" "$pkg/build"
cp "$release/kits/csharp/ZelbinSerial.cs" "$pkg/contentFiles/cs/any/Zelbin/ZelbinSerial.cs"
cp "$release/kits/csharp/ZelbinSerial.cs" "$pkg/content/Zelbin/ZelbinSerial.cs"
cp "$root/kits/nuget/$id.targets" "$pkg/build/$id.targets"
/usr/bin/python3 "$root/scripts/sbom.py" --nuget "$release/sbom.cdx.json" "$pkg" | sed 's/$/\r/' \
    >"$pkg/sbom.cdx.json"
cp "$release/LICENSE.txt" "$pkg/LICENSE.txt"
sed "s/@VERSION@/$version/g" "$root/kits/nuget/README.md" >"$pkg/README.md"

# The copyright as the key library's version resource states it.
copyright="$(/usr/bin/python3 - "$release/x64/Zelbin_Serial.dll" <<'EOF'
import sys
import pefile
pe = pefile.PE(sys.argv[1], fast_load=True)
pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        value = table.entries.get(b"LegalCopyright")
        if value:
            print(value.decode())
EOF
)"
[ -n "$copyright" ] || { echo "nuget.sh: no copyright in $release/x64/Zelbin_Serial.dll's version resource" >&2; exit 1; }
sed -e "s/@VERSION@/$version/g" -e "s/@COPYRIGHT@/$copyright/g" "$root/kits/nuget/$id.nuspec.in" >"$pkg/$id.nuspec"

# The parts a NuGet package has as an Open Packaging Conventions file.
mkdir -p "$pkg/_rels"
cat >"$pkg/_rels/.rels" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
  <Relationship Type="http://schemas.microsoft.com/packaging/2010/07/manifest" Target="/$id.nuspec" Id="Rmanifest" />
</Relationships>
EOF
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    echo '  <Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml" />'
    (cd "$pkg" && find . -type f -name '*.*' ! -name '.rels' | sed 's/.*\.//' | LC_ALL=C sort -u |
        sed 's|.*|  <Default Extension="&" ContentType="application/octet" />|')
    echo '</Types>'
} >"$pkg/[Content_Types].xml"

find "$pkg" -type d -exec chmod 755 {} +
find "$pkg" -type f -exec chmod 644 {} +
find "$pkg" -exec touch -h -d "@$epoch" {} +
mkdir -p "$out"
# -nw: the names are taken as they are ([Content_Types].xml is no pattern).
(cd "$pkg" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | TZ=UTC zip -X -D -nw -q -9 "$stage/$id.nupkg" -@)
mv "$stage/$id.nupkg" "$nupkg.part"
mv "$nupkg.part" "$nupkg"
echo "$nupkg"
