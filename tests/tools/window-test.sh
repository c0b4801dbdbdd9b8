#!/usr/bin/env bash
# The key tester's window under Wine on a virtual X display, against the
# stand-in io.dll with a scripted key: driven with window messages by
# key_window_driver, which checks the lamps and the strip in screenshots and
# saves the log and the trace; here the saved files are read back, the
# trace by sigrok-cli. The screenshots stay in OUT_DIR.
# Usage: window-test.sh BIN_DIR WINEPREFIX OUT_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
scripts="$here/../../scripts"
bin="$1"
prefix="$2"
out="$3"
"$scripts/wine-usable.sh" || exit 77
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIPPED: no virtual X display for the window: Xvfb is not installed (scripts/setup.sh windows installs it)." >&2
    exit 77
fi
mkdir -p "$out"
rm -f "$out/key.csv" "$out/key.vcd" "$out"/window-*.bmp

display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null' EXIT
sleep 2
export DISPLAY="$display"

# Held from 1.5 s to 3.5 s after the window opens, then two taps.
status=0
ZELBIN_KEY_SCRIPT="press@1500 release@3500 tap@4500 tap@5200" \
    "$scripts/wine-run.sh" "$prefix" "$bin/key_window_driver.exe" "$bin/zelbin-keytest-gui.exe" \
    "$bin/io.dll" COM1 "$("$scripts/wine-run.sh" "$prefix" winepath -w "$out" 2>/dev/null || echo "$out")" || status=1

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
check "the window's checks pass" test "$status" -eq 0
# The event column of each row under the header (which names a press column).
check "the log has three presses" test "$(tr -d '\r' <"$out/key.csv" 2>/dev/null | tail -n +2 | cut -d, -f3 | grep -cx press)" -eq 3
check "sigrok-cli reads the trace" sigrok-cli -I vcd -i "$out/key.vcd" -O bits
for shot in "$out"/window-*.bmp; do
    [ -f "$shot" ] && command -v convert >/dev/null && convert "$shot" "${shot%.bmp}.png" 2>/dev/null
done
echo "screenshots: $out"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
