#!/usr/bin/env bash
# Makes a Free Pascal compiler for 32-bit Windows programs in DIR, from
# Debian's packages, without installing anything into the system: Debian
# ships no Free Pascal units for Windows, so this takes the i386 compiler
# (ppc386, which targets win32 too) out of its package and builds the
# win32 run-time units that a console host needs (System, its start-up
# units, Windows) from the fpc-source package's RTL.
# Usage: scripts/pascal-win32.sh DIR     then DIR/ppc386 -Twin32 -Pi386 -FuDIR/units ...
# Needs the i386 architecture in dpkg (Wine's set-up adds it), fpc-source,
# and a machine that runs 32-bit programs: ppc386 is one.
set -euo pipefail
dir="$(realpath -m "$1")"
version=3.2.2
rtl="/usr/share/fpcsrc/$version/rtl"
ppc="$dir/ppc386"
units="$dir/units"

[ -x "$ppc" ] && [ -f "$units/windows.ppu" ] && exit 0
[ -d "$rtl/win32" ] || { echo "pascal-win32.sh: no RTL sources in $rtl (package fpc-source)" >&2; exit 1; }

mkdir -p "$dir/download" "$units"
if [ ! -x "$ppc" ]; then
    (cd "$dir/download" && apt-get download -q "fp-compiler-$version:i386" >/dev/null)
    dpkg-deb -x "$dir"/download/fp-compiler-"$version"_*_i386.deb "$dir/download/root"
    cp "$dir/download/root/usr/lib/i386-linux-gnu/fpc/$version/ppc386" "$ppc"
fi

paths=(-Fi"$rtl/inc" -Fi"$rtl/i386" -Fi"$rtl/win" -Fi"$rtl/win/wininc" -Fi"$rtl/win32" -Fi"$rtl/objpas"
    -Fu"$rtl/inc" -Fu"$rtl/objpas" -Fu"$rtl/win" -Fu"$rtl/win32" -Fu"$units")
build() { # source [options]
    "$ppc" -Twin32 -Pi386 -n -Sg -O2 -vew "${paths[@]}" -FU"$units" "${@:2}" "$1" >"$dir/build.log" 2>&1 ||
        { tail -20 "$dir/build.log" >&2; exit 1; }
}
build "$rtl/win32/system.pp" -Us
for unit in inc/fpintres.pp win32/sysinitpas.pp objpas/objpas.pp win32/windows.pp; do
    build "$rtl/$unit"
done
echo "pascal-win32.sh: ppc386 and the win32 run-time units in $dir"
