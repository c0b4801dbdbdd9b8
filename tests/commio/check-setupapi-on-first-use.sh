#!/usr/bin/env bash
# SETUPAPI.dll comes into a host only with a port map that names a USB
# adapter: a host loads Zelbin_Serial.dll with the comm-port io.dll beside
# it, starts listening and lists its modules (Toolhelp), once over a map
# of a plain COM name, where SETUPAPI.dll must be absent, and once over a
# map with usb=, where the adapter's lookup must have loaded it.
# Usage: check-setupapi-on-first-use.sh BIN_DIR WINEPREFIX WORK_DIR
# BIN_DIR holds load_cycles_host.exe and Zelbin_Serial.dll, and the
# comm-port io.dll in commio/.
set -uo pipefail
bin="$(realpath "$1")"
prefix="$(realpath "$2")"
work="$(realpath -m "$3")"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-prefix.sh" "$prefix" >/dev/null || exit $?

passed=0
failed=0
for case in "plain|any = COM1|absent" "usb|any = usb=0403:6001:A1B2C3 COM1|present"; do
    IFS='|' read -r name map wanted <<<"$case"
    folder="$work/$name"
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$bin/Zelbin_Serial.dll" "$bin/commio/io.dll" "$folder/"
    printf '%s\r\n' "$map" >"$folder/io-ports.txt"
    output="$("$scripts/wine-exec.sh" "$prefix" "$bin/load_cycles_host.exe" "Z:$folder/Zelbin_Serial.dll" \
        "COM1;3F8h" 1 2>&1 | tr -d '\r')"
    modules="$(sed -n 's/^modules //p' <<<"$output")"
    if [ -z "$modules" ]; then
        verdict="FAIL"
    elif grep -qw "setupapi.dll" <<<"$modules"; then
        [ "$wanted" = present ] && verdict="ok  " || verdict="FAIL"
    else
        [ "$wanted" = absent ] && verdict="ok  " || verdict="FAIL"
    fi
    echo "$verdict map '$map': SETUPAPI.dll $wanted after StartListen"
    if [ "$verdict" = FAIL ]; then
        failed=$((failed + 1))
        sed 's/^/     | /' <<<"$output"
    else
        passed=$((passed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
