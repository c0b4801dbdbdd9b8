#!/usr/bin/env bash
# A technician's wrong set-ups, each laid out on the prefix's drive C as a
# technician lays a host's folder out, and what the real key tester says of
# it: its exit status, the words it must say, and those it must not. One
# row each, in the table at the end.
# Usage: setup-faults.sh BIN_DIR WINEPREFIX [OTHER_BIN_DIR]
# BIN_DIR: this edition's build (zelbin-keytest.exe, Zelbin_Serial.dll, the
# stand-in io.dll, commio/io.dll); OTHER_BIN_DIR: the other edition's, for
# the rows that need it (left out where that edition isn't built).
set -uo pipefail
bin="$(realpath "$1")"
prefix="$(realpath "$2")"
other="${3:+$(realpath -m "$3")}"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-usable.sh" || exit $?
arch="${ZELBIN_ARCH:-x86}"
mine=x86 bits=32 theirs=x64 theirbits=64
[ "$arch" = x64 ] && mine=x64 bits=64 theirs=x86 theirbits=32
# The 64-bit prefix's own system folder; a 32-bit one's is the same name.
system="$prefix/drive_c/windows/system32"
top="$prefix/drive_c/setups-$$"
work="$(mktemp -d)"
trap 'rm -rf "$work" "$top"; rm -f "$system/io.dll"' EXIT
mkdir -p "$top"
passed=0
failed=0
skipped=0

# host NAME FILES...: C:\setups-N\NAME with the named files of this edition:
# tester, dll, stand-in, commio (the comm-port io.dll).
host() {
    local folder="$top/$1"
    shift
    mkdir -p "$folder"
    for file in "$@"; do
        case "$file" in
        tester) cp "$bin/zelbin-keytest.exe" "$folder/" ;;
        dll) cp "$bin/Zelbin_Serial.dll" "$folder/" ;;
        stand-in) cp "$bin/io.dll" "$folder/" ;;
        commio) cp "$bin/commio/io.dll" "$folder/" ;;
        esac
    done
}
on_c() { echo "C:\\setups-$$\\$1"; }

# row NAME STATUS [+MUST]... [-MUSTNOT]... -- PROGRAM ARGS...: runs the
# tester and judges what it said.
row() {
    local name="$1" status="$2"
    shift 2
    local must=() never=()
    while [ "$1" != -- ]; do
        case "$1" in
        +*) must+=("${1#+}") ;;
        -*) never+=("${1#-}") ;;
        esac
        shift
    done
    shift
    local out="$work/out.txt"
    local started=$SECONDS
    "$scripts/wine-run.sh" "$prefix" "$@" >"$out" 2>&1
    local got=$? took=$((SECONDS - started)) bad=""
    tr -d '\r' <"$out" >"$out.lf"
    [ "$got" -eq "$status" ] || bad="status $got, not $status"
    for text in "${must[@]}"; do
        grep -qF -- "$text" "$out.lf" || bad="${bad:+$bad; }no '$text'"
    done
    for text in "${never[@]}"; do
        grep -qF -- "$text" "$out.lf" && bad="${bad:+$bad; }said '$text'"
    done
    if [ -z "$bad" ]; then
        passed=$((passed + 1))
        echo "ok   $name (${took} s)"
    else
        failed=$((failed + 1))
        echo "FAIL $name: $bad"
        sed 's/^/     | /' "$out.lf"
    fi
}

# ---- The table -----------------------------------------------------------------

# The tester of the other edition in a host's folder: the host's files are
# right, so the tester to use is named, not a file to replace.
if [ -n "$other" ] && [ -f "$other/Zelbin_Serial.dll" ]; then
    host other tester
    cp "$other/Zelbin_Serial.dll" "$other/commio/io.dll" "$top/other/"
    row "the $bits-bit tester in a $theirbits-bit host's folder names the tester to use" 1 \
        "+$(on_c other)\\Zelbin_Serial.dll is of the $theirs edition (for $theirbits-bit hosts); this is the $bits-bit tester" \
        "+For this host use the $theirs edition's tester: $theirs\\zelbin-keytest.exe" \
        "-take the $mine edition's file" -- "$top/other/zelbin-keytest.exe" --seconds 0.3
else
    skipped=$((skipped + 1))
    echo "skip the tester in a host's folder of the other edition: the $theirs edition isn't built"
fi

# io.dll only in the Windows folder: the one Windows found is named, where
# it was found, and what to move where.
host systemio tester dll
cp "$bin/commio/io.dll" "$system/io.dll"
row "an io.dll in the Windows folder is named as not the one beside Zelbin_Serial.dll" 4 \
    "+The io.dll in use, C:\\windows\\system32\\io.dll, is not beside Zelbin_Serial.dll ($(on_c systemio)\\)" \
    "+Put the io.dll and io-ports.txt beside Zelbin_Serial.dll" \
    "+a map beside the io.dll in use helps no host" "-and io-ports.txt beside it" \
    -- "$top/systemio/zelbin-keytest.exe" --seconds 0.3
rm -f "$system/io.dll"

# --io naming an io.dll elsewhere, with none beside the host's DLL: the test
# runs, and says the host can't start so.
host noio tester dll
host elsewhere stand-in
row "--io elsewhere, with no io.dll beside the DLL, says the host can't load it" 0 \
    "+There is no io.dll beside $(on_c noio)\\Zelbin_Serial.dll: a host that loads it from there can't start it" \
    -- "$top/noio/zelbin-keytest.exe" --io "$(on_c elsewhere)\\io.dll" --seconds 0.3 COM2

# The stand-in installed by mistake: said plainly, and no hint of wiring.
host standin tester dll stand-in
row "the stand-in io.dll says it reads no port, and no hint blames the wiring" 0 \
    "+This io.dll is the stand-in for tests: it simulates a PC and reads no serial port" \
    "+Hint: the stand-in io.dll simulates a PC and reads no serial port" "-Check the port" \
    -- "$top/standin/zelbin-keytest.exe" --seconds 0.5 COM1

# Nothing to test: the comm-port io.dll holds no device. The test ends at
# once, whatever --seconds asks, and says the map is read as it loads.
host nodevice tester dll commio
printf 'any = COM9\r\n' >"$top/nodevice/io-ports.txt"
row "the comm-port io.dll holding no device ends the test at once with status 4" 4 \
    "+It reads io-ports.txt once, as it loads" "+What to do: the port is not there now: plug the adapter in" \
    "+Nothing to test: the driver does not answer" "-press the key" \
    -- "$top/nodevice/zelbin-keytest.exe" --seconds 60 "COM9;3F8h"

# A mistyped option: named as an option, with the one meant.
host typo tester dll commio
printf 'any = COM9 inverted\r\n' >"$top/typo/io-ports.txt"
row "a mistyped option is named as one, with the option meant" 4 \
    "+io-ports.txt line 1: unknown option 'inverted'; did you mean 'invert'?" "-one device per line" \
    -- "$top/typo/zelbin-keytest.exe" --seconds 0.3

# io-ports.txt.txt, as Explorer names a new text file when it hides .txt.
host twice tester dll commio
printf 'any = COM9\r\n' >"$top/twice/io-ports.txt.txt"
row "io-ports.txt.txt is spotted" 4 \
    "+io-ports.txt.txt is there instead: Windows hides the extension .txt" \
    -- "$top/twice/zelbin-keytest.exe" --seconds 0.3

# A comment in another language: the map is read.
host umlaut tester dll commio
printf '# Taster am Empfang (Schl\xc3\xbcssel)\r\nany = COM9\r\n' >"$top/umlaut/io-ports.txt"
row "a comment in another language leaves the map readable" 4 \
    "+COM9 for any UART: not held" "-not plain ASCII" -- "$top/umlaut/zelbin-keytest.exe" --seconds 0.3

# The key library without its io.dll: said once, with where the zip has it.
host alone tester dll
row "a DLL without its io.dll is named once, and where the comm-port io.dll is" 1 \
    "+It needs io.dll beside it" "+io.dll with io-ports.txt from the release zip's $mine\\ folder" \
    "-can't load: " -- "$top/alone/zelbin-keytest.exe" COM1

# --ports: Windows' own words beside each code.
host ports tester dll commio
row "--ports gives Windows' text beside each code" 0 "+  now     : opens, but is not a serial port (error " \
    -- "$top/ports/zelbin-keytest.exe" --ports
grep -q 'not a serial port (error [0-9]*: [A-Za-z]' "$work/out.txt.lf"
if [ $? -eq 0 ]; then passed=$((passed + 1)); echo "ok   --ports: the code has its text"; else
    failed=$((failed + 1)); echo "FAIL --ports: the code has no text"; fi

# A test that ends toggled on says toggled off after turning DTR off.
host toggled tester dll stand-in
ZELBIN_KEY_SCRIPT="press@200 release@450" row "after the stop turns DTR off, the summary says toggled off" 0 \
    "+ZelbinSetToggled(0): DTR off before stopping" "+1 press, toggled off" -- \
    "$top/toggled/zelbin-keytest.exe" --presses 1 --seconds 5 COM2

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
