#!/usr/bin/env bash
# The release zip as a technician gets it, with its own guide followed to
# the letter: unzipped onto drive C, a key on CTS of a serial port that
# Wine's own serial driver serves (the scripted device: nothing added to
# the zip's files), each edition's folder used as it stands. The search
# finds the key and writes the map beside the comm-port io.dll; the test
# the guide gives then counts the presses. Then a second key, on another
# port (COM8), followed into that map as the guide's "A second key" says:
# its line is added for the base its host programs, the first key's line
# stays, and a test of the second key counts its presses. Also: the port map template is
# shipped byte for byte as the source holds it; the tester with its io.dll
# missing names where the zip has the comm-port one; and the commands run
# here are the ones the zip's guide prints. The x86 edition runs where this
# machine runs 32-bit programs.
# The scripted port is listed in the registry's list of serial devices, as
# Windows' serial driver lists its ports, for as long as the check runs.
# Usage: check-zip-guide.sh SOURCE_DIR X86_BUILD_DIR X64_BUILD_DIR WINEPREFIX TTYDEV_DIR
#   TTYDEV_DIR: the scripted device's native build (zelbin-ttydev and its libraries)
set -uo pipefail
src="$(realpath "$1")"
prefix="$(realpath "$4")"
ttydev="$(realpath -m "$5")"
. "$(dirname "$0")/both-editions.sh" "$2" "$3"
"$src/scripts/wine-usable.sh" x64 || exit 77
[ -x "$ttydev/zelbin-ttydev" ] || { echo "SKIPPED: the scripted device is not built in $ttydev." >&2; exit 77; }
. "$(dirname "$0")/checks.sh"
drive_c="$prefix/drive_c"

install_editions "$work/installs"
zip="$("$src/scripts/release.sh" --zip "$work/installs" "$work/out")" || exit 1
name="$(basename "$zip" .zip)"
rm -rf "${drive_c:?}/$name"
(cd "$drive_c" && unzip -q "$zip") || exit 1
top="$drive_c/$name"
port=COM7 second=COM8
list_port() { ZELBIN_ARCH=x64 "$src/scripts/wine-run.sh" "$prefix" "$x64_build/bin/list_com_port.exe" "$1" "$2"; }
list_port add "$port" || exit 1
list_port add "$second" || exit 1
trap 'list_port remove "$port"; list_port remove "$second"; rm -rf "$work" "${drive_c:?}/$name"' EXIT

cmp -s "$src/src/commio/io-ports.txt" "$top/x64/io-ports.txt" && cmp -s "$src/src/commio/io-ports.txt" "$top/x86/io-ports.txt"
check "the port map template ships byte for byte as the port map reader's test reads it" $?

# The commands below are the guide's own, as the zip's page shows them.
guide="$(/usr/bin/python3 -c 'import html,re,sys; print(html.unescape(re.sub(r"<[^>]+>", "", open(sys.argv[1]).read())))' \
    "$top/docs/technician.html" 2>/dev/null)"
grep -qF 'zelbin-keytest --find --write-map' <<<"$guide" &&
    grep -qF 'zelbin-keytest "COM5;3F8h" --presses 3 --seconds 30' <<<"$guide" &&
    grep -qF 'zelbin-keytest --find --write-map "COM8;2F8h"' <<<"$guide" &&
    grep -qF 'zelbin-keytest "COM8;2F8h" --presses 3 --seconds 30' <<<"$guide"
check "the zip's guide gives the searches and the tests run here" $?

# A program of an edition's folder, by its path on drive C.
on_c() { echo "C:\\$name\\$1\\$2"; } # edition program
run_with_key() { # edition log script start-on program args... (the key on $on, COM7 unless set)
    local edition="$1" log="$2" script="$3" start="$4"
    shift 4
    (cd "$top/$edition" && ZELBIN_ARCH="$edition" "$ttydev/zelbin-ttydev" run --prefix "$prefix" --port "${on:-$port}" \
        --record "$log.record" --script "$script" --start-on "$start" --timeout 60 -- \
        "$src/scripts/wine-exec.sh" "$prefix" "$@") >"$log" 2>&1
}

for edition in x86 x64; do
    if ! why="$("$src/scripts/wine-usable.sh" "$edition" 2>&1)"; then
        skipped=$((skipped + 1))
        echo "skip the $edition edition, as the guide says: ${why#SKIPPED: }"
        continue
    fi
    folder="C:\\$name\\$edition"

    # Set up a key, step 4: the search, with three brief presses.
    run_with_key "$edition" "$work/find-$edition.log" "tap@600 tap@1400 tap@2200" "Press the key" \
        "$(on_c "$edition" zelbin-keytest.exe)" --find --write-map
    status=$?
    tr -d '\r' <"$work/find-$edition.log" >"$work/find-$edition.txt"
    [ "$status" -eq 0 ] && grep -q "^The key is on $port, .*line CTS, closes when pressed (3 presses seen)" \
        "$work/find-$edition.txt" &&
        grep -qF "Wrote $folder\\io-ports.txt (the previous one is $folder\\io-ports.txt.bak)" "$work/find-$edition.txt" &&
        grep -qx "any = $port" <(tr -d '\r' <"$top/$edition/io-ports.txt") &&
        cmp -s "$src/src/commio/io-ports.txt" "$top/$edition/io-ports.txt.bak"
    check "$edition: --find --write-map finds the key on $port's CTS and writes the map beside the io.dll" $? \
        "$work/find-$edition.txt"

    # Step 5: the test, as the host will use the key.
    run_with_key "$edition" "$work/test-$edition.log" "tap@400 tap@1000 tap@1600" "Polling every" \
        "$(on_c "$edition" zelbin-keytest.exe)" "$port;3F8h" --presses 3 --seconds 30
    status=$?
    tr -d '\r' <"$work/test-$edition.log" >"$work/test-$edition.txt"
    [ "$status" -eq 0 ] && grep -qF "library: $folder\\Zelbin_Serial.dll" "$work/test-$edition.txt" &&
        grep -qF "io.dll : $folder\\io.dll" "$work/test-$edition.txt" &&
        grep -q "commio io.dll, over the Windows serial driver" "$work/test-$edition.txt" &&
        grep -q "^ZelbinStopListen after .*: 3 presses" "$work/test-$edition.txt"
    check "$edition: the test counts the three presses through the zip's DLL and comm-port io.dll" $? \
        "$work/test-$edition.txt"

    # A second key, on COM8, whose host programs the UART at 2F8h: the
    # guide's search with that host's parameters adds its line, and keeps
    # the first key's.
    on="$second" run_with_key "$edition" "$work/second-$edition.log" "tap@600 tap@1400 tap@2200" "Press the key" \
        "$(on_c "$edition" zelbin-keytest.exe)" --find --write-map "$second;2F8h"
    status=$?
    tr -d '\r' <"$work/second-$edition.log" >"$work/second-$edition.txt"
    [ "$status" -eq 0 ] && grep -q "^The key is on $second, .*line CTS, closes when pressed (3 presses seen)" \
        "$work/second-$edition.txt" &&
        grep -q "line [0-9]* added, '2F8 = $second': $second carries the key for the UART at 02F8h; kept as they were: line [0-9]* (any = $port)" \
            "$work/second-$edition.txt" &&
        grep -qx "any = $port" <(tr -d '\r' <"$top/$edition/io-ports.txt") &&
        grep -qx "2F8 = $second" <(tr -d '\r' <"$top/$edition/io-ports.txt")
    check "$edition: a second key's --find --write-map adds its line for its host's base and keeps the first key's" $? \
        "$work/second-$edition.txt"
    on="$second" run_with_key "$edition" "$work/second-test-$edition.log" "tap@400 tap@1000 tap@1600" "Polling every" \
        "$(on_c "$edition" zelbin-keytest.exe)" "$second;2F8h" --presses 3 --seconds 30
    status=$?
    tr -d '\r' <"$work/second-test-$edition.log" >"$work/second-test-$edition.txt"
    [ "$status" -eq 0 ] && grep -q "^ZelbinStopListen after .*: 3 presses" "$work/second-test-$edition.txt"
    check "$edition: the test of the second key counts its three presses" $? "$work/second-test-$edition.txt"

    # The edition's folder without its io.dll: the tester says where the zip has it.
    mkdir -p "$work/bare-$edition"
    cp "$top/$edition/zelbin-keytest.exe" "$top/$edition/Zelbin_Serial.dll" "$work/bare-$edition/"
    ZELBIN_ARCH="$edition" "$src/scripts/wine-run.sh" "$prefix" "$work/bare-$edition/zelbin-keytest.exe" COM1 \
        >"$work/bare-$edition.log" 2>&1
    status=$?
    [ "$status" -eq 1 ] && grep -qF "io.dll with io-ports.txt from the release zip's $edition\\ folder" "$work/bare-$edition.log"
    check "$edition: without io.dll the tester names the comm-port io.dll's place in the zip" $? "$work/bare-$edition.log"
done

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
