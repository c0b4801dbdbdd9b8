#!/usr/bin/env bash
# Runs a Windows program under Wine in the given project-local prefix,
# making the prefix first if needed. The program's own PE header picks the
# loader (32-bit or 64-bit); a builtin such as cmd.exe runs as the prefix's
# edition (ZELBIN_ARCH).
# Usage: scripts/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/wine-prefix.sh" "$1" >&2 || exit $?
exec "$here/wine-exec.sh" "$@"
