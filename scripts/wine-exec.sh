#!/usr/bin/env bash
# Runs a Windows program under Wine in the given project prefix as it is,
# without making or checking the prefix first: for a program that runs
# while a test has added a COM port to the prefix (the scripted device),
# which the check would take for a port that must not be there. The
# program's own PE header picks the loader, as in wine-run.sh.
# Usage: scripts/wine-exec.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
. "$(dirname "$0")/wine-env.sh" "$1"
shift
exec "$(zelbin_wine_loader "$(zelbin_pe_arch "$1")")" "$@"
