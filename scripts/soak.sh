#!/usr/bin/env bash
# make soak: 10,000 key presses through the real Zelbin_Serial.dll and the
# comm-port io.dll under Wine, over the scripted modem-line device as each
# kind of adapter with the other input lines still, and 8,000 more with
# each kind of activity on them (pulses before the key's edges, DSR
# following DTR, a ringing RI, a flapping DCD) across the adapters
# (tests/ttydev/scripted-runs.py soak), split between the editions this
# machine runs. Ends with a table per behaviour, activity and poll
# interval: presses, reported, merged, lost, invented, the longest poll.
# Extra arguments go to scripted-runs.py (--seed N repeats a run, --only
# TEXT runs those whose name holds TEXT).
# Usage: scripts/soak.sh [--seed N] [--lanes N] [--scale F] [--only TEXT]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
editions=(--edition "x64=$root/build/windows-x64")
[ -d "$root/build/windows/bin" ] && editions+=(--edition "x86=$root/build/windows")
exec /usr/bin/python3 "$root/tests/ttydev/scripted-runs.py" soak "${editions[@]}" "$@"
