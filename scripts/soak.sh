#!/usr/bin/env bash
# make soak: 10,000 key presses through the real Zelbin_Serial.dll and the
# comm-port io.dll under Wine, over the scripted modem-line device as each
# kind of adapter (tests/ttydev/scripted-runs.py soak), split between the
# editions this machine runs; about 15 minutes on 2 cores. Ends with a
# table per behaviour and poll interval: presses, reported, merged, lost,
# invented. Extra arguments go to scripted-runs.py (--seed N repeats a run).
# Usage: scripts/soak.sh [--seed N] [--lanes N] [--scale F]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
editions=(--edition "x64=$root/build/windows-x64")
[ -d "$root/build/windows/bin" ] && editions+=(--edition "x86=$root/build/windows")
exec /usr/bin/python3 "$root/tests/ttydev/scripted-runs.py" soak "${editions[@]}" "$@"
