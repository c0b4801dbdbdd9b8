#!/usr/bin/env bash
# The key tester under Wine against the virtual key: three taps and a press
# whose contacts bounce. Each press is detected once, DTR follows the toggled
# state, the bounce is flagged as chatter, and the test closes with its
# summary. On a terminal a status line shows the modem lines live. The test
# also leaves a CSV log and a VCD trace in the edition's build folder.
#
# The 32-bit edition runs where this machine runs 32-bit programs (it is the
# one existing hosts load), from DIST_DIR/x86; elsewhere the 64-bit one, from
# DIST_DIR/x64. The checkout is drive D: in the prefix, so that the paths the
# tester shows are the checkout's own (D:\dist\x86\...), on any machine.
# Usage: scripts/demo.sh DIST_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
dist="$1"
if why="$("$here/wine-usable.sh" x86 2>&1)"; then
    edition=x86 build=build/windows
elif "$here/wine-usable.sh" x64 2>/dev/null; then
    edition=x64 build=build/windows-x64
    reason="${why##*this machine: }"
    echo "The 32-bit edition can't run here (${reason%.}), so this is the 64-bit one."
else
    "$here/wine-usable.sh" x64 || true
    echo "demo.sh: the Windows files are built in $dist, but the demo can't run here." >&2
    exit 1
fi
export ZELBIN_ARCH="$edition"
prefix="$root/$build/wineprefix"
script="tap@400 tap@900 bounce@1400 tap@2100"
"$here/wine-prefix.sh" "$prefix"
ln -sfn "$root" "$prefix/dosdevices/d:"
folder="$(realpath --relative-to="$root" "$dist")/$edition"
windows="D:\\${folder//\//\\}"

echo "Ran: $folder/zelbin-keytest.exe ($edition) under Wine, prefix $build/wineprefix, with the checkout as D:"
echo "Virtual key script: $script"
echo "(ms from start; each tap 100 ms; the bounce opens and closes twice, 15 ms apart)"
echo
status=0
ZELBIN_KEY_SCRIPT="$script" "$here/wine-run.sh" "$prefix" "$windows\\zelbin-keytest.exe" \
    --io "$windows\\stand-in-for-tests-only\\io.dll" --seconds 2.5 --log "D:\\${build//\//\\}\\demo.csv" \
    --vcd "D:\\${build//\//\\}\\demo.vcd" COM1 || status=$?
"$here/wine-stop.sh" "$prefix"
echo
echo "Log: $build/demo.csv; trace: $build/demo.vcd (open it in PulseView or GTKWave)"
exit "$status"
