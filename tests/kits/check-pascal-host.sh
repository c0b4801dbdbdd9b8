#!/usr/bin/env bash
# The Pascal import units used by a real Free Pascal host: cross-compiled
# for Windows of the build's edition, then run under Wine beside
# Zelbin_Serial.dll and the stand-in io.dll, where it drives a whole session
# through each unit. Then the run-time loader's word on each load fault
# (PascalLoadFaults, over the folders of fault-folders.sh, and once by the
# DLL's bare name beside a program without io.dll), judged by
# check-load-faults.py, and two layouts that must load.
# Usage: check-pascal-host.sh SOURCE_DIR BIN_DIR WINEPREFIX WORK_DIR x86|x64 [OTHER_BIN_DIR]
# BIN_DIR holds Zelbin_Serial.dll and the stand-in io.dll side by side;
# OTHER_BIN_DIR the other edition's, for the faults of the other
# architecture (without it, or where it is not built, they are skipped).
# The x86 compiler is a 32-bit program and the host a Windows one: on a
# machine that runs neither, the x86 test is skipped (77) before anything is
# fetched. The x64 compiler and Wine run everywhere.
set -uo pipefail
src="$(realpath "$1")"
bin="$(realpath "$2")"
prefix="$3"
work="$(realpath -m "$4")"
arch="$5"
other="$(realpath -m "${6:-/nonexistent}")"
"$src/scripts/wine-usable.sh" "$arch" || exit $?

toolchain="$work/fpc-$arch"
"$src/scripts/setup.sh" pascal || exit 1
"$src/scripts/pascal-windows.sh" "$arch" "$toolchain" || exit 1

target=(-Twin32 -Pi386)
[ "$arch" = x64 ] && target=(-Twin64 -Px86_64)
host="$work/host"
rm -rf "$host" && mkdir -p "$host/units"
for program in PascalHost PascalLoadFaults; do
    if ! "$toolchain/ppc" "${target[@]}" -n -vew -Sew -Fu"$toolchain/units" -Fu"$src/kits/pascal" -FU"$host/units" \
        -FE"$host" "$src/tests/kits/$program.pas" >"$host/compile.log" 2>&1; then
        cat "$host/compile.log"
        echo "FAIL $program does not compile for $arch"
        echo "0 passed, 1 failed"
        exit 1
    fi
done
cp "$bin/Zelbin_Serial.dll" "$bin/io.dll" "$host/"
(cd "$host" && "$src/scripts/wine-run.sh" "$prefix" "$host/PascalHost.exe") || exit 1

if [ ! -f "$other/Zelbin_Serial.dll" ]; then
    echo "skip the run-time loader's word on each load fault: the other edition is not built ($other)"
    exit 0
fi
. "$src/tests/kits/fault-folders.sh"
faults="$work/faults"
fault_folders "$faults" "$bin/Zelbin_Serial.dll" "$bin/io.dll" "$other/Zelbin_Serial.dll" "$other/io.dll"
cp "$host/PascalLoadFaults.exe" "$faults/"
mkdir -p "$faults/bare"
cp "$host/PascalLoadFaults.exe" "$bin/Zelbin_Serial.dll" "$faults/bare/"
# Two layouts that must load, a DLL in a folder of its own, also the
# current one: with io.dll beside it (LOAD_WITH_ALTERED_SEARCH_PATH), and
# with io.dll beside the program only (as LoadLibrary alone finds it).
for layout in beside-dll beside-program; do
    mkdir -p "$faults/$layout/loads"
    cp "$host/PascalLoadFaults.exe" "$faults/$layout/"
    cp "$bin/Zelbin_Serial.dll" "$faults/$layout/loads/"
    cp "$bin/io.dll" "$faults/$layout/$([ "$layout" = beside-dll ] && echo loads/)"
done
{
    (cd "$faults" && "$src/scripts/wine-run.sh" "$prefix" "$faults/PascalLoadFaults.exe" "${FAULTS[@]}")
    (cd "$faults/bare" && "$src/scripts/wine-run.sh" "$prefix" "$faults/bare/PascalLoadFaults.exe" --bare missing-io/bare)
    for layout in beside-dll beside-program; do
        (cd "$faults/$layout/loads" && "$src/scripts/wine-run.sh" "$prefix" "$faults/$layout/PascalLoadFaults.exe" . |
            sed "s|^\.|loads/io.dll-$layout|")
    done
} 2>&1 | /usr/bin/python3 "$src/tests/kits/check-load-faults.py" ZelbinSerialDynamic
