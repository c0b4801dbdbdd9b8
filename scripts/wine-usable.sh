#!/usr/bin/env bash
# Can this machine run the project's Windows programs of one edition under
# Wine?
# Usage: scripts/wine-usable.sh [x86|x64]   (default: $ZELBIN_ARCH, else x86)
#        exit 0 if yes; else says why and exits 77
#
# Wine's loader for 32-bit programs is itself a 32-bit Linux program. Some
# kernels run 64-bit user code only (IA-32 emulation off); there no 32-bit
# program starts, Wine's 32-bit loader included, and the x86 tests that run
# Windows programs are reported as skipped instead of failed. Wine's 64-bit
# loader runs everywhere. 77 is the skip status CTest is told to expect.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
arch="${1:-${ZELBIN_ARCH:-x86}}"
why=""
if [ "$arch" = x64 ]; then
    loader=/usr/lib/wine/wine64
    [ -x "$loader" ] || why="64-bit Wine is not installed (scripts/setup.sh windows installs it)"
elif ! "$here/kernel-runs-32bit.sh"; then
    why="this kernel runs no 32-bit programs (IA-32 emulation is off), so Wine's 32-bit loader can't start"
else
    loader=/usr/lib/wine/wine
    [ -x "$loader" ] || why="32-bit Wine (wine32:i386) is not installed$([ -e "$here/../build/.wine32-not-installed" ] &&
        echo ": scripts/setup.sh could not install it, see its message")"
fi
if [ -z "$why" ]; then
    # A loader that can't start makes the shell retry it as a script, so the
    # answer is judged by what it prints, not by its status.
    out="$(timeout 60 "$loader" --version 2>&1)"
    case "$out" in
    wine-*) exit 0 ;;
    *) why="Wine does not start: $(head -n 1 <<<"$out")" ;;
    esac
fi
echo "SKIPPED: $arch Windows programs can't run on this machine: $why." >&2
exit 77
