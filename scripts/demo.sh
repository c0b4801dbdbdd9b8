#!/usr/bin/env bash
# The key tester under Wine against the virtual key: three taps and a press
# whose contacts bounce. Each press is detected once, DTR follows the toggled
# state, the bounce is flagged as chatter, and the test closes with its
# summary. On a terminal a status line shows the modem lines live. The test
# also leaves a CSV log and a VCD trace in build/windows/.
# Usage: scripts/demo.sh DIST_DIR WINEPREFIX
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist="$1"
prefix="$2"
records="$(dirname "$prefix")"
script="tap@400 tap@900 bounce@1400 tap@2100"
if ! "$here/wine-usable.sh"; then
    echo "demo.sh: the Windows files are built in $dist, but the demo can't run here." >&2
    exit 1
fi

echo "Virtual key script: $script"
echo "(ms from start; each tap 100 ms; the bounce opens and closes twice, 15 ms apart)"
echo
status=0
ZELBIN_KEY_SCRIPT="$script" "$here/wine-run.sh" "$prefix" "$dist/zelbin-keytest.exe" \
    --io "$dist/sim/io.dll" --seconds 2.5 --log "$records/demo.csv" --vcd "$records/demo.vcd" COM1 || status=$?
"$here/wine-stop.sh" "$prefix"
echo
echo "Log: $records/demo.csv; trace: $records/demo.vcd (open it in PulseView or GTKWave)"
exit "$status"
