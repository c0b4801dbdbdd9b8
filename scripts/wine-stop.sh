#!/usr/bin/env bash
# Stops the Wine server of a project prefix, if one is running.
# Usage: scripts/wine-stop.sh PREFIX
set -uo pipefail
. "$(dirname "$0")/wine-env.sh" "$1"
[ -d "$WINEPREFIX" ] || exit 0
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
exit 0
