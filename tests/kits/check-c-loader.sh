#!/usr/bin/env bash
# The C loader header's diagnosis under Wine: LoadFaults.exe, built for this
# edition, loads Zelbin_Serial.dll from each fault folder (fault-folders.sh),
# and once by its bare name from a folder that lacks io.dll, and
# check-load-faults.py judges what ZelbinDescribeLoadFailure says.
# Usage: check-c-loader.sh SOURCE_DIR LOAD_FAULTS_EXE BIN_DIR OTHER_BIN_DIR WINEPREFIX WORK_DIR x86|x64
# BIN_DIR and OTHER_BIN_DIR hold each edition's Zelbin_Serial.dll and io.dll.
set -uo pipefail
src="$(realpath "$1")"
exe="$(realpath "$2")"
bin="$(realpath "$3")"
other="$(realpath -m "$4")"
prefix="$5"
work="$(realpath -m "$6")"
arch="$7"
"$src/scripts/wine-usable.sh" "$arch" || exit $?
if [ ! -f "$other/Zelbin_Serial.dll" ]; then
    echo "SKIPPED: the faults of the other architecture need the other edition built, and $other is not (make windows builds both)." >&2
    exit 77
fi
. "$src/tests/kits/fault-folders.sh"
fault_folders "$work" "$bin/Zelbin_Serial.dll" "$bin/io.dll" "$other/Zelbin_Serial.dll" "$other/io.dll"
cp "$exe" "$work/"
mkdir -p "$work/bare"
cp "$exe" "$bin/Zelbin_Serial.dll" "$work/bare/"
{
    (cd "$work" && "$src/scripts/wine-run.sh" "$prefix" "$work/$(basename "$exe")" "${FAULTS[@]}")
    (cd "$work/bare" && "$src/scripts/wine-run.sh" "$prefix" "$work/bare/$(basename "$exe")" --bare missing-io/bare)
} 2>&1 | /usr/bin/python3 "$src/tests/kits/check-load-faults.py" "Zelbin_SerialLoader.h"
