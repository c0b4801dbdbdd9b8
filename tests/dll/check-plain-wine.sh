#!/usr/bin/env bash
# A developer's plain `WINEPREFIX=... wine program.exe`, without the
# project's environment, must leave the prefix as safe as the project's own
# runs: COM1 to COM4 linked to /dev/null and no other COM port.
# Usage: check-plain-wine.sh PREFIX
set -uo pipefail
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-prefix.sh" "$1" || exit $?
prefix="$(realpath "$1")"
# The loader a developer would start for this prefix's edition (wine, or
# wine64 where the kernel runs no 32-bit programs).
wine="$(. "$scripts/wine-env.sh" "$prefix" && echo "$ZELBIN_WINE")"
env -u WINEDLLOVERRIDES WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" cmd.exe /c "echo plain run" >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
if "$scripts/wine-prefix.sh" "$1" --verify; then
    echo "ok   a plain wine run sees only COM1-COM4, each linked to /dev/null"
    echo "1 passed, 0 failed"
else
    echo "FAIL a plain wine run changed the prefix's COM ports"
    echo "0 passed, 1 failed"
    exit 1
fi
