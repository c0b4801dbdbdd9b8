#!/usr/bin/env bash
# make soak, its second part: a host loads Zelbin_Serial.dll with the
# comm-port io.dll beside it, starts listening on the scripted port, polls,
# stops and frees it 10,000 times under Wine, for each edition this
# machine runs (tests/ttydev/load-cycles.py); a table of what the process
# holds after the first, the middle and the last cycle (handles, private
# bytes, thread-local slot, threads, modules), which must stay flat.
# Usage: scripts/soak-load-cycles.sh [--cycles N]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
editions=(--edition "x64=$root/build/windows-x64")
[ -d "$root/build/windows/bin" ] && editions+=(--edition "x86=$root/build/windows")
/usr/bin/python3 "$root/tests/ttydev/load-cycles.py" --cycles 10000 "${editions[@]}" "$@"
status=$?
"$root/scripts/wine-stop.sh" "$root/build/windows-x64/wineprefix" >/dev/null 2>&1
[ -d "$root/build/windows/wineprefix" ] && "$root/scripts/wine-stop.sh" "$root/build/windows/wineprefix" >/dev/null 2>&1
# No edition could run here: said so, and nothing failed.
[ "$status" = 77 ] && exit 0
exit "$status"
