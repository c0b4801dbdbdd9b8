#!/usr/bin/env bash
# Can this machine run the project's Windows programs under Wine?
# Usage: scripts/wine-usable.sh      exit 0 if yes; else says why and exits 77
#
# Wine's loader for 32-bit programs is itself a 32-bit Linux program. Some
# kernels run 64-bit user code only (IA-32 emulation off); there no 32-bit
# program starts, Wine included, and the tests that run Windows programs are
# reported as skipped instead of failed. 77 is the skip status CTest is told
# to expect from them.
set -uo pipefail
why=""
if ! command -v wine >/dev/null 2>&1; then
    why="wine is not installed"
else
    loader=/usr/lib/wine/wine
    [ -x "$loader" ] || loader="$(command -v wine)"
    # A kernel that refuses the binary makes the shell retry it as a
    # script, so the answer is judged by what it prints, not by its status.
    out="$(timeout 60 "$loader" --version 2>&1)"
    case "$out" in
    wine-*) ;;
    *"Exec format error"* | *"Syntax error"* | *"cannot execute binary"*)
        why="this kernel runs no 32-bit programs (IA-32 emulation is off), so Wine's 32-bit loader can't start" ;;
    *) why="Wine does not start: $(head -n 1 <<<"$out")" ;;
    esac
fi
[ -z "$why" ] && exit 0
echo "SKIPPED: Windows programs can't run on this machine: $why." >&2
exit 77
