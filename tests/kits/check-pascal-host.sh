#!/usr/bin/env bash
# The Pascal import units used by a real Free Pascal host: cross-compiled
# for Windows of the build's edition, then run under Wine beside
# Zelbin_Serial.dll and the stand-in io.dll, where it drives a whole session
# through each unit.
# Usage: check-pascal-host.sh SOURCE_DIR BIN_DIR WINEPREFIX WORK_DIR x86|x64
# BIN_DIR holds Zelbin_Serial.dll and the stand-in io.dll side by side.
# The x86 compiler is a 32-bit program and the host a Windows one: on a
# machine that runs neither, the x86 test is skipped (77) before anything is
# fetched. The x64 compiler and Wine run everywhere.
set -uo pipefail
src="$(realpath "$1")"
bin="$(realpath "$2")"
prefix="$3"
work="$(realpath -m "$4")"
arch="$5"
"$src/scripts/wine-usable.sh" "$arch" || exit $?

toolchain="$work/fpc-$arch"
"$src/scripts/setup.sh" pascal || exit 1
"$src/scripts/pascal-windows.sh" "$arch" "$toolchain" || exit 1

target=(-Twin32 -Pi386)
[ "$arch" = x64 ] && target=(-Twin64 -Px86_64)
host="$work/host"
rm -rf "$host" && mkdir -p "$host/units"
if ! "$toolchain/ppc" "${target[@]}" -n -vew -Fu"$toolchain/units" -Fu"$src/kits/pascal" -FU"$host/units" \
    -FE"$host" "$src/tests/kits/PascalHost.pas" >"$host/compile.log" 2>&1; then
    cat "$host/compile.log"
    echo "FAIL the Pascal host does not compile for $arch"
    echo "0 passed, 1 failed"
    exit 1
fi
cp "$bin/Zelbin_Serial.dll" "$bin/io.dll" "$host/"
cd "$host" && "$src/scripts/wine-run.sh" "$prefix" "$host/PascalHost.exe"
