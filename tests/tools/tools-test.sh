#!/usr/bin/env bash
# End-to-end tests of the key tester and the virtual key under Wine.
# Usage: tools-test.sh BIN_DIR WINEPREFIX
# BIN_DIR holds zelbin-keytest.exe, zelbin-virtualkey.exe, Zelbin_Serial.dll
# and the stand-in io.dll side by side.
set -uo pipefail
bin="$(realpath "$1")"
prefix="$2"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-usable.sh" || exit $?
run="$scripts/wine-run.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
check() { # name condition-status
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        [ -f out.txt ] && sed 's/^/     | /' out.txt
    fi
}
wait_for() { # file pattern: until a background program has printed it (20 s at most)
    for _ in $(seq 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
keytest() { "$run" "$prefix" "$bin/zelbin-keytest.exe" "$@" >out.txt 2>&1; }
presses() { grep -c '\] press [0-9]*:' out.txt; }

# Scripted presses are reported exactly, each flipping the toggled state and
# DTR with it, and the tester ends cleanly when its time is up.
# Presses are held 250 ms and 250 ms apart, so that a loaded machine's late
# polls still see every edge.
ZELBIN_KEY_SCRIPT="press@300 release@550 press@800 release@1050 press@1300 release@1550 press@1800 release@2050" \
    keytest --seconds 2.6 COM3
status=$?
[ "$status" -eq 0 ] && [ "$(presses)" -eq 4 ] &&
    grep -q 'press 1: toggled on,  DTR on' out.txt && grep -q 'press 2: toggled off, DTR off' out.txt &&
    grep -q 'press 3: toggled on,  DTR on' out.txt && grep -q 'press 4: toggled off, DTR off' out.txt &&
    grep -q 'ZelbinStopListen after .*: 4 presses, toggled off' out.txt
check "four scripted presses are four presses, DTR following the toggled state" $?

# --presses ends the test at the given count.
ZELBIN_KEY_SCRIPT="press@200 release@450 press@700 release@950 press@1200" keytest --presses 2
[ $? -eq 0 ] && [ "$(presses)" -eq 2 ] && grep -q '2 presses, toggled off' out.txt &&
    grep -q 'ZelbinStartListen(NULL)' out.txt
check "--presses 2 ends after the second press; no parameters means NULL" $?

# A key held down through the whole run is one press, not many.
ZELBIN_KEY_SCRIPT="press@200" keytest --seconds 0.8 COM1
[ $? -eq 0 ] && [ "$(presses)" -eq 1 ]
check "a key held down is one press" $?

# The control program, in a second process, sees the tester drive DTR.
"$run" "$prefix" "$bin/zelbin-virtualkey.exe" watch COM2 --seconds 6 >watch.txt 2>&1 &
watcher=$!
wait_for watch.txt 'CTS'
ZELBIN_KEY_SCRIPT="press@300 release@550 press@800 release@1050" keytest --presses 2 COM2
tester=$?
wait "$watcher"
cp watch.txt out.txt
dtr="$(sed -n 's/.*RTS on  *DTR \(on\|off\).*/\1/p' watch.txt | uniq | tr '\n' ' ')"
[ "$tester" -eq 0 ] && [ "$dtr" = "off on off " ]
check "the virtual key's watch sees DTR go on and off with the tester (saw: $dtr)" $?

# Pressing from the control program reaches a host in another process.
ZELBIN_KEY_SCRIPT="" keytest --presses 1 --seconds 20 COM4 &
host=$!
wait_for out.txt 'Polling every'
"$run" "$prefix" "$bin/zelbin-virtualkey.exe" tap COM4 --ms 150 >/dev/null 2>&1
wait "$host"
[ $? -eq 0 ] && [ "$(presses)" -eq 1 ]
check "a tap from the control program is one press in the tester" $?

# Ctrl+C (Wine turns SIGINT into it) stops listening and ends cleanly.
keytest --seconds 29.75 COM1 &
host=$!
wait_for out.txt 'Polling every'
pkill -INT -f 'zelbin-keytest.exe --seconds 29.75'
wait "$host"
[ $? -eq 0 ] && grep -q 'ZelbinStopListen after .*(Ctrl+C)' out.txt
check "Ctrl+C stops listening and ends with status 0" $?

# Failures are named and end with a non-zero status.
keytest --dll "$work/missing/Zelbin_Serial.dll"
[ $? -eq 1 ] && grep -q 'Zelbin_Serial.dll not found: .*missing' out.txt
check "a missing DLL is named" $?

keytest --dll "$bin/io.dll"
[ $? -eq 1 ] && grep -q 'io.dll has no export ZelbinIsCustom; is it Zelbin_Serial.dll?' out.txt
check "a DLL without the exports names the missing export" $?

mkdir -p alone && cp "$bin/Zelbin_Serial.dll" alone/
keytest --dll alone/Zelbin_Serial.dll
[ $? -eq 1 ] && grep -q 'cannot load .*alone.Zelbin_Serial.dll' out.txt && grep -q 'It needs io.dll' out.txt
check "a DLL whose io.dll is missing says so" $?

keytest --interval 0
[ $? -eq 2 ] && grep -q -- '--interval needs milliseconds' out.txt
check "a bad option gives status 2 and says why" $?

keytest --help
[ $? -eq 0 ] && grep -q -- '--presses N' out.txt
check "--help explains the options" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
