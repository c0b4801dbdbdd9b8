#!/usr/bin/env bash
# Compiles the C# declaration class for x86 with Mono's compiler, together
# with a host that uses it as its comment shows, and reads the built
# assembly back with monodis: each method must bind the export by its
# undecorated name, stdcall, with one-byte booleans and an 8-bit text, the
# way Zelbin_Serial.dll needs. (Running it needs .NET on Windows; Wine's
# Mono is not available here.)
# Usage: check-csharp-kit.sh MCS MONODIS ZelbinSerial.cs WORK_DIR
set -uo pipefail
mcs="$1"
monodis="$2"
source="$3"
work="$4"
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

out="$("$mcs" -nologo -warnaserror+ -target:library -platform:x86 -out:"$work/ZelbinSerial.dll" "$source" 2>&1)"
check "the class compiles for x86 without a warning" $? "$out"

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
out="$("$mcs" -nologo -warnaserror+ -platform:x86 -out:"$work/Host.exe" -r:"$work/ZelbinSerial.dll" "$work/Host.cs" 2>&1)"
check "a host for x86 compiles against it" $? "$out"

# Each method's declaration as monodis prints it, on one line.
listing="$("$monodis" "$work/ZelbinSerial.dll" 2>&1 | tr -s ' \n' ' ' | sed 's/\.method /\n.method /g')"
declaration() { grep -F ".method public static hidebysig pinvokeimpl (\"Zelbin_Serial.dll\" as \"$1\" " <<<"$listing"; }

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

count="$(grep -c '^\.method .*pinvokeimpl' <<<"$listing")"
[ "$count" -eq 5 ]
check "exactly five methods bind into the DLL (found $count)" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
