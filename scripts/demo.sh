#!/usr/bin/env bash
# The key tester under Wine against the virtual key: three taps and a press
# whose contacts bounce. Each press is detected once, DTR follows the toggled
# state, the bounce is flagged as chatter, and the test closes with its
# summary. On a terminal a status line shows the modem lines live. The test
# also leaves a CSV log and a VCD trace in the edition's build folder.
#
# The 32-bit edition runs where this machine runs 32-bit programs (it is the
# one existing hosts load); elsewhere the 64-bit one, from DIST_DIR/x64.
# Usage: scripts/demo.sh DIST_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
dist="$1"
if why="$("$here/wine-usable.sh" x86 2>&1)"; then
    edition=x86 build="$root/build/windows"
elif "$here/wine-usable.sh" x64 2>/dev/null; then
    edition=x64 build="$root/build/windows-x64" dist="$dist/x64"
    reason="${why##*this machine: }"
    echo "The 32-bit edition can't run here (${reason%.}), so this is the 64-bit one."
else
    "$here/wine-usable.sh" x64 || true
    echo "demo.sh: the Windows files are built in $dist, but the demo can't run here." >&2
    exit 1
fi
export ZELBIN_ARCH="$edition"
prefix="$build/wineprefix"
script="tap@400 tap@900 bounce@1400 tap@2100"

echo "Ran: $dist/zelbin-keytest.exe ($edition) under Wine, prefix $prefix"
echo "Virtual key script: $script"
echo "(ms from start; each tap 100 ms; the bounce opens and closes twice, 15 ms apart)"
echo
status=0
ZELBIN_KEY_SCRIPT="$script" "$here/wine-run.sh" "$prefix" "$dist/zelbin-keytest.exe" \
    --io "$dist/sim/io.dll" --seconds 2.5 --log "$build/demo.csv" --vcd "$build/demo.vcd" COM1 || status=$?
"$here/wine-stop.sh" "$prefix"
echo
echo "Log: $build/demo.csv; trace: $build/demo.vcd (open it in PulseView or GTKWave)"
exit "$status"
