#!/usr/bin/env bash
# The key tester's window under Wine on a virtual X display, driven with
# window messages by key_window_driver:
#  - over the stand-in io.dll with a scripted key: the port list, the lamps
#    and the strip in screenshots, the status line after Stop, the keyboard,
#    and both save dialogs, whose files are read back here (the trace by
#    sigrok-cli); the screenshot taken while the key is held becomes
#    keytest-window.png, and a window that shows nothing fails;
#  - over the comm-port io.dll, beside the tests' SETUPAPI.dll that lists a
#    USB adapter on COM5 with a key on DSR (as the console's search test
#    uses it): the port list as Windows names the ports, a search that finds
#    the key, the map line written when the window offers it, and a test
#    over the io.dll, loaded again with that map, that sees the presses.
# The screenshots stay in OUT_DIR.
# Usage: window-test.sh BIN_DIR WINEPREFIX OUT_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
scripts="$here/../../scripts"
bin="$(realpath "$1")"
prefix="$2"
out="$(realpath -m "$3")"
"$scripts/wine-usable.sh" || exit 77
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIPPED: no virtual X display for the window: Xvfb is not installed (scripts/setup.sh windows installs it)." >&2
    exit 77
fi
mkdir -p "$out"
rm -rf "$out/key.csv" "$out/key.vcd" "$out"/window-*.bmp "$out"/*.png "$out/find"

display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null' EXIT
sleep 2
export DISPLAY="$display"
windows_path() { "$scripts/wine-run.sh" "$prefix" winepath -w "$1" 2>/dev/null | tr -d '\r' || echo "$1"; }

# Held from 1.5 s to 3.5 s after the window opens, then two taps.
test_status=0
ZELBIN_KEY_SCRIPT="press@1500 release@3500 tap@4500 tap@5200" \
    "$scripts/wine-run.sh" "$prefix" "$bin/key_window_driver.exe" test "$bin/zelbin-keytest-gui.exe" \
    "$bin/io.dll" COM1 "$(windows_path "$out")" || test_status=1

# A copy of the window beside the simulated SETUPAPI.dll and the key
# library; the comm-port io.dll in a folder of its own with a map to replace.
find="$out/find"
mkdir -p "$find/commio"
cp "$bin/zelbin-keytest-gui.exe" "$bin/find-sim/SETUPAPI.dll" "$bin/Zelbin_Serial.dll" "$find/"
cp "$bin/commio/io.dll" "$find/commio/"
echo "any = COM3 # by hand" >"$find/commio/io-ports.txt"
find_status=0
ZELBIN_FIND_LOG="$find/calls.txt" ZELBIN_WINEDLLOVERRIDES="setupapi=n,b" \
    "$scripts/wine-run.sh" "$prefix" "$bin/key_window_driver.exe" find "$find/zelbin-keytest-gui.exe" \
    "$(windows_path "$find/commio/io.dll")" COM5 "$(windows_path "$out")" || find_status=1

passed=0
failed=0
check() { # description command...
    local what="$1"
    shift
    if "$@" >/dev/null 2>&1; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}
check "the window's test over the stand-in passes its checks" test "$test_status" -eq 0
# The event column of each row under the header (which names a press column).
check "the log has three presses" test "$(tr -d '\r' <"$out/key.csv" 2>/dev/null | tail -n +2 | cut -d, -f3 | grep -cx press)" -eq 3
check "sigrok-cli reads the trace" sigrok-cli -I vcd -i "$out/key.vcd" -O bits
check "the window's search over the comm-port io.dll passes its checks" test "$find_status" -eq 0
check "the map beside the comm-port io.dll carries the key found" \
    grep -qx 'any = COM5 usb=1209:5A4B:ZK0001 line=DSR' <(tr -d '\r' <"$find/commio/io-ports.txt")
check "the old map is kept" grep -qx 'any = COM3 # by hand' "$find/commio/io-ports.txt.bak"
# The test after the search: the io.dll drove COM5's DTR for the presses,
# and set it off before it gave the port back.
check "the comm-port io.dll drove COM5's DTR for the presses and left it off" \
    test "$(tr -d '\r' <"$find/calls.txt" | grep -E '^(escape c[0-9]+ COM5 (SETDTR|CLRDTR)|close c[0-9]+ COM5)$' | tail -5 |
        sed 's/c[0-9]* //' | tr '\n' ' ')" = "escape COM5 SETDTR escape COM5 CLRDTR escape COM5 SETDTR escape COM5 CLRDTR close COM5 "
# The picture of the window in docs/technician.md and README.md
# (docs/keytest-window.png): taken while the key is held.
check "the screenshot shows the window" /usr/bin/python3 "$here/bmp-to-png.py" "$out/window-held.bmp" \
    "$out/keytest-window.png" 24
for shot in after find; do
    [ -f "$out/window-$shot.bmp" ] && /usr/bin/python3 "$here/bmp-to-png.py" "$out/window-$shot.bmp" \
        "$out/window-$shot.png" >/dev/null
done
echo "screenshots: $out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
