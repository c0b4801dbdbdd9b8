#!/usr/bin/env bash
# The NuGet package, Zelbin.Serial.VERSION.nupkg, made from a release zip of
# both builds: its files and .nuspec (check-nuget.py), its own bill of
# materials (check-sbom.py, of the package's paths), the same bytes when
# made again, and the C# class as the package gives it, compiled by Mono's
# mcs into a host that runs the locator (tests/kits/KitFiles.cs --package)
# over both editions' files laid out as .NET builds lay out the package's:
# runtimes\win-ARCH\native\ (no runtime identifier), beside the program (one
# runtime identifier), x86\ and x64\ (.NET Framework, by the package's build
# targets, whose items check-nuget.py follows).
# Usage: check-nuget.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR MCS
set -uo pipefail
src="$(realpath "$1")"
mcs="$4"
. "$(dirname "$0")/both-editions.sh" "$2" "$3"
. "$(dirname "$0")/checks.sh"
counted() { # log: a checker's own ok and FAIL lines, counted here
    grep '^ok\|^FAIL\|^     ' "$1"
    passed=$((passed + $(grep -c '^ok' "$1")))
    failed=$((failed + $(grep -c '^FAIL' "$1")))
}

install_editions "$work/installs"
zip="$("$src/scripts/release.sh" --zip "$work/installs" "$work/one")" || exit 1
nupkg="$("$src/scripts/nuget.sh" "$work/installs" "$work/one" 2>"$work/nuget.log")"
check "scripts/nuget.sh packs the release zip: $(basename "$nupkg")" $? "$work/nuget.log"
mkdir -p "$work/two"
cp "$zip" "$work/two/"
again="$("$src/scripts/nuget.sh" "$work/installs" "$work/two" 2>>"$work/nuget.log")" && cmp -s "$nupkg" "$again"
check "packed again from the same zip, the package is the same bytes ($(stat -c %s "$nupkg") bytes)" $?
rm "$work/two/$(basename "$zip")"
"$src/scripts/nuget.sh" "$work/installs" "$work/two" >/dev/null 2>"$work/no-zip.log"
[ $? -ne 0 ] && grep -q "no release zip .* (make release makes it)" "$work/no-zip.log"
check "without the release zip it says so and makes nothing" $? "$work/no-zip.log"

layouts="$work/layouts"
/usr/bin/python3 "$(dirname "$0")/check-nuget.py" "$nupkg" "$zip" "$layouts" >"$work/layout.log" 2>&1
check "the package checker ran" $? "$work/layout.log"
counted "$work/layout.log"

# Its bill of materials, of what it holds by its own paths (the package as
# check-nuget.py unpacked it).
version="$(basename "$zip" | sed 's/^Zelbin_Serial-\(.*\)-windows\.zip$/\1/')"
/usr/bin/python3 "$(dirname "$0")/check-sbom.py" "$layouts/package" "$version" \
    "$(npm root -g)/@cyclonedx/cyclonedx-library/res/schema" nuget >"$work/sbom.log" 2>&1
check "the package's sbom.cdx.json checker ran" $? "$work/sbom.log"
counted "$work/sbom.log"

# The host, with the class compiled in from the package as contentFiles do.
mkdir -p "$work/host"
unzip -q -o "$nupkg" 'contentFiles/*' -d "$work/host"
"$mcs" -nologo -warnaserror+ -platform:anycpu -out:"$work/host/PackageHost.exe" \
    "$work/host/contentFiles/cs/any/Zelbin/ZelbinSerial.cs" "$src/tests/kits/KitFiles.cs" >"$work/mcs.log" 2>&1
check "a host compiles with the package's ZelbinSerial.cs" $? "$work/mcs.log"
mono "$work/host/PackageHost.exe" --package "$layouts" >"$work/locate.log" 2>&1
check "Mono runs the locator over the package's layouts" $? "$work/locate.log"
counted "$work/locate.log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
