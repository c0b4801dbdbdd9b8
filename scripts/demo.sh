#!/usr/bin/env bash
# The key tester under Wine against the virtual key, with four scripted
# presses: each is detected once and DTR follows the toggled state.
# Usage: scripts/demo.sh DIST_DIR WINEPREFIX
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
dist="$1"
prefix="$2"
script="tap@400 tap@900 tap@1400 tap@1900"
if ! "$here/wine-usable.sh"; then
    echo "demo.sh: the Windows files are built in $dist, but the demo can't run here." >&2
    exit 1
fi

echo "Virtual key script: $script (ms from start, each tap 100 ms)"
echo
status=0
ZELBIN_KEY_SCRIPT="$script" "$here/wine-run.sh" "$prefix" "$dist/zelbin-keytest.exe" \
    --io "$dist/sim/io.dll" --seconds 2.5 COM1 || status=$?
"$here/wine-stop.sh" "$prefix"
exit "$status"
