#!/usr/bin/env bash
# Makes a Free Pascal compiler for Windows programs of one edition in DIR,
# from Debian's packages, without installing anything into the system:
# Debian ships no Free Pascal units for Windows, so this builds the run-time
# units a console host needs (System, its start-up units, Windows, and
# SysUtils, which the run-time loader unit uses) from the fpc-source
# package's RTL.
#   x86: the i386 compiler (ppc386, which targets win32 too), taken out of
#        its package; it is a 32-bit program, so it needs a machine that runs
#        those, and the i386 architecture in dpkg.
#   x64: this machine's own compiler (ppcx64, which targets win64 too).
# Usage: scripts/pascal-windows.sh x86|x64 DIR
#        then DIR/ppc -T(win32|win64) -P(i386|x86_64) -FuDIR/units ...
set -euo pipefail
arch="$1"
dir="$(realpath -m "$2")"
version=3.2.2
rtl="/usr/share/fpcsrc/$version/rtl"
ppc="$dir/ppc"
units="$dir/units"

case "$arch" in
x86) target=(-Twin32 -Pi386) cpu=i386 os=win32 startup=win32/sysinitpas.pp ;;
x64) target=(-Twin64 -Px86_64) cpu=x86_64 os=win64 startup=win64/sysinit.pp ;;
*) echo "pascal-windows.sh: unknown edition '$arch'" >&2; exit 2 ;;
esac
[ -x "$ppc" ] && [ -f "$units/sysutils.ppu" ] && exit 0
[ -d "$rtl/$os" ] || { echo "pascal-windows.sh: no RTL sources in $rtl (package fpc-source)" >&2; exit 1; }

mkdir -p "$dir/download" "$units"
if [ ! -x "$ppc" ] && [ "$arch" = x86 ]; then
    (cd "$dir/download" && apt-get download -q "fp-compiler-$version:i386" >/dev/null)
    dpkg-deb -x "$dir"/download/fp-compiler-"$version"_*_i386.deb "$dir/download/root"
    cp "$dir/download/root/usr/lib/i386-linux-gnu/fpc/$version/ppc386" "$ppc"
elif [ ! -x "$ppc" ]; then
    ln -sf "$(command -v ppcx64)" "$ppc"
fi

paths=(-Fi"$rtl/inc" -Fi"$rtl/$cpu" -Fi"$rtl/win" -Fi"$rtl/win/wininc" -Fi"$rtl/$os" -Fi"$rtl/objpas"
    -Fi"$rtl/objpas/sysutils" -Fu"$rtl/inc" -Fu"$rtl/objpas" -Fu"$rtl/win" -Fu"$rtl/$os" -Fu"$units")
build() { # source [options]
    "$ppc" "${target[@]}" -n -Sg -O2 -vew "${paths[@]}" -FU"$units" "${@:2}" "$1" >"$dir/build.log" 2>&1 ||
        { tail -20 "$dir/build.log" >&2; exit 1; }
}
build "$rtl/$os/system.pp" -Us
for unit in inc/fpintres.pp "$startup" objpas/objpas.pp "$os/windows.pp" win/sysutils.pp; do
    build "$rtl/$unit"
done
echo "pascal-windows.sh: the $os compiler and run-time units in $dir"
