#!/usr/bin/env bash
# Compiles the C# class for x86, x64 and AnyCPU with Mono's compiler,
# together with a host that uses it as its comment shows, and reads the
# built assembly back with monodis: each method must bind the export by its
# undecorated name, stdcall, with one-byte booleans and an 8-bit text, the
# way Zelbin_Serial.dll needs. Its classes are internal, so that a library
# and an application that both compile it in build with warnings as errors,
# and public with ZELBIN_SERIAL_PUBLIC. Its choice of file runs under Mono
# over the real DLLs of both editions (KitFiles.cs), and its word on each
# load fault is judged by check-load-faults.py. The VB.NET declarations the
# guide and the package's readme show must say what the class's do
# (check-vb-declarations.py: Debian has no VB.NET compiler). (Calling the
# DLL needs .NET on Windows; Wine's Mono is not available here.)
# Usage: check-csharp-kit.sh MCS MONODIS ZelbinSerial.cs WORK_DIR X86_DLL X64_DLL
set -uo pipefail
mcs="$1"
monodis="$2"
source="$3"
work="$4"
x86_dll="$(realpath -m "$5")"
x64_dll="$(realpath -m "$6")"
here="$(cd "$(dirname "$0")" && pwd)"
if [ ! -f "$x86_dll" ]; then
    echo "SKIPPED: the C# class's choice of file needs both editions built, and $x86_dll is not (make windows builds both)." >&2
    exit 77
fi
mkdir -p "$work"
passed=0
failed=0
check() { # name status [detail]
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1)); echo "ok   $1"
    else
        failed=$((failed + 1)); echo "FAIL $1"; [ -n "${3:-}" ] && sed 's/^/     /' <<<"$3"
    fi
}

for platform in x86 x64 anycpu; do
    out="$("$mcs" -nologo -warnaserror+ -target:library -platform:$platform -out:"$work/ZelbinSerial.dll" "$source" 2>&1)"
    check "the class compiles for $platform without a warning" $? "$out"
done

cat >"$work/Host.cs" <<'EOF'
using Zelbin;
static class Host {
    static int Main() {
        if (!ZelbinSerial.IsCustom()) return 1;
        ZelbinSerial.StartListen("COM2");
        bool toggled = false;
        if (ZelbinSerial.IsZBToggle()) { toggled = !toggled; ZelbinSerial.SetToggled(toggled); }
        ZelbinSerial.SetToggled(false);
        ZelbinSerial.StopListen();
        ZelbinSerial.StartListen(null);
        ZelbinSerial.StopListen();
        return 0;
    }
}
EOF
out="$("$mcs" -nologo -warnaserror+ -platform:anycpu -out:"$work/Host.exe" "$work/Host.cs" "$source" 2>&1)"
check "an AnyCPU host compiles with it" $? "$out"

# Two projects of one solution that both take the class in, as two that
# reference the NuGet package do: a library and the application using it.
cat >"$work/Panel.cs" <<'EOF'
namespace Vendor {
    public static class Panel {
        public static bool Custom() { return Zelbin.ZelbinSerial.IsCustom(); }
    }
}
EOF
cat >"$work/App.cs" <<'EOF'
static class App {
    static int Main() { return Zelbin.ZelbinSerial.IsCustom() && Vendor.Panel.Custom() ? 0 : 1; }
}
EOF
out="$("$mcs" -nologo -warnaserror+ -target:library -out:"$work/Panel.dll" "$work/Panel.cs" "$source" 2>&1 &&
    "$mcs" -nologo -warnaserror+ -out:"$work/App.exe" -r:"$work/Panel.dll" "$work/App.cs" "$source" 2>&1)"
check "a library and an application that both compile the class in build with warnings as errors" $? "$out"
types="$("$monodis" "$work/Panel.dll" 2>&1 | grep -E '^ *\.class .* ZelbinSerial(Files)?$')"
[ "$(grep -c '\.class private ' <<<"$types")" -eq 2 ] && ! grep -q '\.class public' <<<"$types"
check "ZelbinSerial and ZelbinSerialFiles are internal" $? "$types"

# ZELBIN_SERIAL_PUBLIC: a host's own library that other assemblies call.
out="$("$mcs" -nologo -warnaserror+ -define:ZELBIN_SERIAL_PUBLIC -target:library -out:"$work/Public.dll" \
    "$source" 2>&1 &&
    "$mcs" -nologo -warnaserror+ -out:"$work/UsesPublic.exe" -r:"$work/Public.dll" "$work/Host.cs" 2>&1)"
status=$?
types="$("$monodis" "$work/Public.dll" 2>&1 | grep -E '^ *\.class .* ZelbinSerial(Files)?$')"
[ "$status" -eq 0 ] && [ "$(grep -c '\.class public ' <<<"$types")" -eq 2 ]
check "with ZELBIN_SERIAL_PUBLIC both are public, and another assembly calls them" $? "$out$types"

out="$("$mcs" -nologo -warnaserror+ -platform:anycpu -out:"$work/KitFiles.exe" "$here/KitFiles.cs" "$source" 2>&1)"
check "the file check compiles" $? "$out"
rm -rf "$work/files" && mkdir -p "$work/files"
out="$(cd "$work" && mono KitFiles.exe "$x86_dll" "$x64_dll" "$work/files" 2>&1)"
check "Mono runs the file check" $? "$out"
grep '^ok\|^FAIL' <<<"$out" | sed 's/^/     /'
failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
passed=$((passed + $(grep -c '^ok' <<<"$out")))

# A host's first calls, in a folder of its own for each case: no DLL, and
# the other edition's DLL where this process's should be (Mono here runs
# as a 64-bit process).
for setup in missing wrong; do
    host="$work/first-call-$setup"
    rm -rf "$host" && mkdir -p "$host"
    cp "$work/KitFiles.exe" "$host/"
    [ "$setup" = wrong ] && mkdir -p "$host/x64" && cp "$x86_dll" "$host/x64/Zelbin_Serial.dll"
    out="$(cd "$host" && mono KitFiles.exe --first-call "$setup" 2>&1)"
    grep '^ok\|^FAIL' <<<"$out"
    [ -n "$(grep '^ok\|^FAIL' <<<"$out")" ] || { echo "FAIL the first-call check ($setup) ran: $out"; failed=$((failed + 1)); }
    failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
    passed=$((passed + $(grep -c '^ok' <<<"$out")))
done

# The word on each load fault, of a first call in a 64-bit process (Mono's
# here), the files beside the host.
. "$here/fault-folders.sh"
fault_folders "$work/faults" "$x64_dll" "$(dirname "$x64_dll")/io.dll" "$x86_dll" "$(dirname "$x86_dll")/io.dll"
out="$(mono "$work/KitFiles.exe" --faults "$work/faults" "${FAULTS[@]}" 2>&1 |
    /usr/bin/python3 "$here/check-load-faults.py" "the C# class")"
grep '^ok\|^FAIL\|^     ' <<<"$out"
failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
passed=$((passed + $(grep -c '^ok' <<<"$out")))

out="$(/usr/bin/python3 "$here/check-vb-declarations.py" "$here/../../docs/host-developer.md" \
    "$here/../../kits/nuget/README.md" 2>&1)"
grep '^ok\|^FAIL\|^     ' <<<"$out"
failed=$((failed + $(grep -c '^FAIL' <<<"$out")))
passed=$((passed + $(grep -c '^ok' <<<"$out")))
[ -n "$(grep '^ok\|^FAIL' <<<"$out")" ] || { echo "FAIL the VB.NET declarations were read: $out"; failed=$((failed + 1)); }

# Each method's declaration as monodis prints it, on one line.
listing="$("$monodis" "$work/ZelbinSerial.dll" 2>&1 | tr -s ' \n' ' ' | sed 's/\.method /\n.method /g')"
declaration() { grep -F ".method assembly static hidebysig pinvokeimpl (\"Zelbin_Serial.dll\" as \"$1\" " <<<"$listing"; }

# export | the convention and flags it must carry | its signature
while IFS='|' read -r export flags signature; do
    line="$(declaration "$export")"
    [ -n "$line" ] && grep -qF "$flags )" <<<"$line" && grep -qF "$signature" <<<"$line"
    check "$export: stdcall by its undecorated name, $signature" $? "${line:-no method binds $export}"
done <<'EOF'
ZelbinIsCustom| stdcall nomangle|default bool marshal (unsigned int8) IsCustom ()
ZelbinSetToggled| stdcall nomangle|default void SetToggled (bool marshal (unsigned int8) toggled)
ZelbinIsZBToggle| stdcall nomangle|default bool marshal (unsigned int8) IsZBToggle ()
ZelbinStopListen| stdcall nomangle|default void StopListen ()
ZelbinStartListen|ansi stdcall nomangle bestfit:off charmaperror:on|default void StartListen (string marshal (lpstr) parameters)
EOF

count="$(grep -c '^\.method .*pinvokeimpl ("Zelbin_Serial.dll"' <<<"$listing")"
[ "$count" -eq 5 ]
check "exactly five methods bind into the DLL (found $count)" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
