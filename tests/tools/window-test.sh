#!/usr/bin/env bash
# The key tester's window under Wine on a virtual X display, driven with
# window messages by key_window_driver, at the size it opens with; every
# picture it takes must show every text whole:
#  - beside a Zelbin_Serial.dll without its io.dll: the whole message, and
#    no Start;
#  - over the stand-in io.dll with a scripted key: the port list, the lamps
#    and the strip in screenshots, the status line after Stop, the keyboard,
#    and both save dialogs, whose files are read back here (the trace by
#    sigrok-cli); the screenshot taken while the key is held becomes
#    keytest-window.png, and a window that shows nothing fails;
#  - over the comm-port io.dll and Wine's own serial driver, COM7 being the
#    scripted modem-line device (a CDC-class adapter with its key on DSR),
#    beside the tests' SETUPAPI.dll that lists it as Windows would (as the
#    console's search test uses it): the port list as Windows names the
#    ports, a search that finds the key, the map line written when the
#    window offers it, and a test over the io.dll, loaded again with that
#    map, that sees the presses; the device's record says how the io.dll
#    drove DTR. The map it writes into holds another key's line, which stays.
# The pictures of the window in docs/ are made here: its first start, a
# failed load, a key found and a stopped test (keytest-window-*.png), and the
# key held during a test (keytest-window.png).
# The window runs from the prefix's drive C, laid out as the release zip
# unpacks there, so that what it shows (and the picture in the guides) is
# what a technician's copy shows. In a 64-bit prefix that also has the
# 32-bit side, as 64-bit Windows has, wherever this machine runs 32-bit
# programs. The screenshots stay in OUT_DIR.
# Usage: window-test.sh BIN_DIR WINEPREFIX OUT_DIR VERSION TTYDEV_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
scripts="$here/../../scripts"
bin="$(realpath "$1")"
prefix="$2"
out="$(realpath -m "$3")"
version="$4"
ttydev="$(realpath -m "$5")"
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

# The edition's folder of the unzipped release on drive C, with the
# stand-in io.dll in its folder.
arch="${ZELBIN_ARCH:-x86}"
edition="$(realpath -m "$prefix/drive_c/Zelbin_Serial-$version-windows/$arch")"
rm -rf "$edition"
mkdir -p "$edition/stand-in-for-tests-only"
cp "$bin/zelbin-keytest-gui.exe" "$bin/Zelbin_Serial.dll" "$edition/"
cp "$bin/io.dll" "$edition/stand-in-for-tests-only/"
gui='C:\Zelbin_Serial-'"$version"'-windows\'"$arch"'\zelbin-keytest-gui.exe'

# Two taps, then the key held from 3 s to 4.5 s after the window opens.
test_status=0
ZELBIN_KEY_SCRIPT="tap@1500 tap@2200 press@3000 release@4500" \
    "$scripts/wine-run.sh" "$prefix" "$bin/key_window_driver.exe" test "$gui" \
    "${gui%\\*}\\stand-in-for-tests-only\\io.dll" COM1 "$(windows_path "$out")" || test_status=1

# The window beside a key library without its io.dll, as a technician who
# copied too little finds it.
nothing="$(realpath -m "$prefix/drive_c/Host")"
rm -rf "$nothing"
mkdir -p "$nothing"
cp "$bin/zelbin-keytest-gui.exe" "$bin/Zelbin_Serial.dll" "$nothing/"
failed_status=0
"$scripts/wine-run.sh" "$prefix" "$bin/key_window_driver.exe" load-failed 'C:\Host\zelbin-keytest-gui.exe' - - \
    "$(windows_path "$out")" || failed_status=1
rm -rf "$nothing"

# A copy of the window beside the simulated SETUPAPI.dll and the key
# library; the comm-port io.dll in a folder of its own with a map to add to.
# On drive C, as a technician's host folder is (the guide's picture shows
# its paths); copied to $out/find once judged.
find="$(realpath -m "$prefix/drive_c/Host")"
rm -rf "$find"
mkdir -p "$find/commio"
cp "$bin/zelbin-keytest-gui.exe" "$bin/find-sim/SETUPAPI.dll" "$bin/Zelbin_Serial.dll" "$find/"
cp "$bin/commio/io.dll" "$find/commio/"
echo "any = COM3 # by hand" >"$find/commio/io-ports.txt"
find_status=0
presses="press@800 release@1200 press@1600 release@2000 press@2400 release@2800"
presses="$presses press@9000 release@9400 press@9800 release@10200 press@10600 release@11000"
ZELBIN_WINEDLLOVERRIDES="setupapi=n,b" "$ttydev/zelbin-ttydev" run --prefix "$(realpath "$prefix")" --port COM7 \
    --record "$find/com7.record" --behaviour cdc --line DSR --script "$presses" --start-on "find: clicked" \
    --timeout 120 -- "$scripts/wine-exec.sh" "$prefix" "$bin/key_window_driver.exe" find 'C:\Host\zelbin-keytest-gui.exe' \
    'C:\Host\commio\io.dll' COM7 "$(windows_path "$out")" || find_status=1

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
# A 64-bit prefix that has the 32-bit side is where an x86 manifest kills
# the window; where this machine runs 32-bit programs, it is that kind.
if [ "$arch" = x64 ] && "$scripts/wine-usable.sh" x86 2>/dev/null; then
    check "the 64-bit prefix has the 32-bit side too, as 64-bit Windows has" \
        test -f "$prefix/drive_c/windows/syswow64/comctl32.dll"
fi
check "the window's test over the stand-in passes its checks" test "$test_status" -eq 0
check "the window without an io.dll says so whole" test "$failed_status" -eq 0
# The event column of each row under the header (which names a press column).
check "the log has three presses" test "$(tr -d '\r' <"$out/key.csv" 2>/dev/null | tail -n +2 | cut -d, -f3 | grep -cx press)" -eq 3
check "sigrok-cli reads the trace" sigrok-cli -I vcd -i "$out/key.vcd" -O bits
check "the window's search over the comm-port io.dll passes its checks" test "$find_status" -eq 0
check "the map beside the comm-port io.dll carries the key found, for the base of its parameters" \
    grep -qx '3F8 = COM7 usb=1209:5A4B:ZK0001 line=DSR' <(tr -d '\r' <"$find/commio/io-ports.txt")
check "the other key's line stays in the map" grep -qx 'any = COM3 # by hand' <(tr -d '\r' <"$find/commio/io-ports.txt")
check "the old map is kept" grep -qx 'any = COM3 # by hand' "$find/commio/io-ports.txt.bak"
# DTR as COM7's record has it, each level once: off through the search and
# the claim, then toggled at the three presses, and off at the stop.
check "the comm-port io.dll drove COM7's DTR for the presses and left it off" \
    test "$(awk '$1 == "set" { print int($5 / 2) % 2 }' "$find/com7.record" | uniq | tr '\n' ' ')" = "0 1 0 1 0 "
# The picture of the window in docs/technician.md and README.md
# (docs/keytest-window.png): taken while the key is held.
check "the screenshot shows the window" /usr/bin/python3 "$here/bmp-to-png.py" "$out/window-held.bmp" \
    "$out/keytest-window.png" 24
# The guide's pictures of the window's first start, a failed load, a key
# found and a stopped test (docs/keytest-window-*.png).
for shot in first load-failed found after; do
    name="$shot"
    [ "$shot" = after ] && name=stopped
    check "the picture of the window's $name shows it" /usr/bin/python3 "$here/bmp-to-png.py" \
        "$out/window-$shot.bmp" "$out/keytest-window-$name.png" 24
done
[ -f "$out/window-find.bmp" ] && /usr/bin/python3 "$here/bmp-to-png.py" "$out/window-find.bmp" "$out/window-find.png" >/dev/null
rm -rf "$out/find"
cp -r "$find" "$out/find" && rm -rf "$find"
echo "screenshots: $out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
