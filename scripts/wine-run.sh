#!/usr/bin/env bash
# Runs a Windows program under Wine in the given project-local prefix,
# making the prefix first if needed.
# Usage: scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/wine-prefix.sh" "$1" >&2 || exit $?
. "$here/wine-env.sh" "$1"
shift
exec wine "$@"
