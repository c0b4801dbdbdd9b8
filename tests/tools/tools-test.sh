#!/usr/bin/env bash
# End-to-end tests of the key tester and the virtual key under Wine.
# Usage: tools-test.sh BIN_DIR WINEPREFIX TTYDEV_DIR [OTHER_BIN_DIR]
# BIN_DIR holds zelbin-keytest.exe, zelbin-virtualkey.exe, Zelbin_Serial.dll
# and the stand-in io.dll side by side; TTYDEV_DIR the scripted modem-line
# device's native build (zelbin-ttydev); OTHER_BIN_DIR the same files of the
# other edition, whose DLLs this tester must name as such (left out where
# that edition isn't built).
set -uo pipefail
bin="$(realpath "$1")"
prefix="$(realpath "$2")"
ttydev="$(realpath -m "$3")"
other="${4:+$(realpath -m "$4")}"
scripts="$(cd "$(dirname "$0")/../../scripts" && pwd)"
"$scripts/wine-usable.sh" || exit $?
run="$scripts/wine-run.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
check() { # name condition-status
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        [ -f out.txt ] && sed 's/^/     | /' out.txt
    fi
}
wait_for() { # file pattern: until a background program has printed it (20 s at most)
    for _ in $(seq 200); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}
keytest() { "$run" "$prefix" "$bin/zelbin-keytest.exe" "$@" >out.txt 2>&1; }
virtualkey() { "$run" "$prefix" "$bin/zelbin-virtualkey.exe" "$@"; }
# Starts the tester in the background; $! is then the PID of the wine
# process itself, since wine-run.sh execs wine. The previous output goes
# first, so that waiting for a line can't find an old one.
keytest_in_background() {
    rm -f out.txt
    "$run" "$prefix" "$bin/zelbin-keytest.exe" "$@" >out.txt 2>&1 &
}
presses() { grep -c '\] press [0-9]*:' out.txt; }
# A whole line of a Windows program's output or file, whose lines end in
# CR LF: the CR is not part of the line.
has_line() { grep -qx -- "$1" <(tr -d '\r' <"$2"); }

# Scripted presses are reported exactly, each flipping the toggled state and
# DTR with it, and the tester ends cleanly when its time is up.
# Presses are held 250 ms and 250 ms apart, so that a loaded machine's late
# polls still see every edge.
ZELBIN_KEY_SCRIPT="press@300 release@550 press@800 release@1050 press@1300 release@1550 press@1800 release@2050" \
    keytest --seconds 2.6 COM3
status=$?
[ "$status" -eq 0 ] && [ "$(presses)" -eq 4 ] &&
    grep -q 'press 1: toggled on,  DTR on' out.txt && grep -q 'press 2: toggled off, DTR off' out.txt &&
    grep -q 'press 3: toggled on,  DTR on' out.txt && grep -q 'press 4: toggled off, DTR off' out.txt &&
    grep -q 'ZelbinStopListen after .*: 4 presses, toggled off' out.txt
check "four scripted presses are four presses, DTR following the toggled state" $?

# --presses ends the test at the given count.
ZELBIN_KEY_SCRIPT="press@200 release@450 press@700 release@950 press@1200" keytest --presses 2
[ $? -eq 0 ] && [ "$(presses)" -eq 2 ] && grep -q '2 presses, toggled off' out.txt &&
    grep -q 'ZelbinStartListen(NULL)' out.txt
check "--presses 2 ends after the second press; no parameters means NULL" $?

# A key held down through the whole run is one press, not many.
ZELBIN_KEY_SCRIPT="press@200" keytest --seconds 0.8 COM1
[ $? -eq 0 ] && [ "$(presses)" -eq 1 ]
check "a key held down is one press" $?

# The control program, in a second process, sees the tester drive DTR.
# The watch runs until told to stop, so a slow start of the tester's own
# Wine process can't outlast it; SIGINT is its Ctrl+C.
"$run" "$prefix" "$bin/zelbin-virtualkey.exe" watch COM2 --seconds 60 >watch.txt 2>&1 &
watcher=$!
wait_for watch.txt 'CTS'
ZELBIN_KEY_SCRIPT="press@300 release@550 press@800 release@1050" keytest --presses 2 COM2
tester=$?
sleep 0.5 # the watch polls every 5 ms: let it see the last change
kill -INT "$watcher" 2>/dev/null
wait "$watcher"
cp watch.txt out.txt
dtr="$(sed -n 's/.*RTS on  *DTR \(on\|off\).*/\1/p' watch.txt | uniq | tr '\n' ' ')"
[ "$tester" -eq 0 ] && [ "$dtr" = "off on off " ]
check "the virtual key's watch sees DTR go on and off with the tester (saw: $dtr)" $?

# Pressing from the control program reaches a host in another process.
ZELBIN_KEY_SCRIPT="" keytest_in_background --presses 1 --seconds 20 COM4
host=$!
wait_for out.txt 'Polling every'
virtualkey tap COM4 --ms 150 >/dev/null 2>&1
wait "$host"
[ $? -eq 0 ] && [ "$(presses)" -eq 1 ]
check "a tap from the control program is one press in the tester" $?

# A bouncing tap from the control program is flagged as chatter. The
# bounces are 60 ms apart and --chatter is 1000 ms, so that a late poll
# still measures a gap far below it.
ZELBIN_KEY_SCRIPT="" keytest_in_background --presses 3 --seconds 20 --chatter 1000 --interval 2 COM4
host=$!
wait_for out.txt 'Polling every'
virtualkey tap COM4 --bounce 2 --bounce-ms 60 >/dev/null 2>&1
wait "$host"
grep -q '\] press [23]: .*CHATTER: ' out.txt
check "a bouncing tap from the control program is chatter" $?

# --dtr on drives the output line through the library: the stand-in's modem
# control register shows DTR on while the tester runs, without any press.
keytest_in_background --dtr on --seconds 20 COM2
host=$!
wait_for out.txt 'Polling every'
virtualkey show COM2 >show.txt 2>&1
kill -INT "$host"
wait "$host"
status=$?
cat show.txt >>out.txt
[ "$status" -eq 0 ] && grep -q 'RTS on  *DTR on' show.txt && grep -q 'DTR held on' out.txt
check "--dtr on shows on the stand-in's modem control register" $?

# A test that ends toggled on turns DTR off before it stops, as README.md
# ("How a key is wired") advises hosts.
ZELBIN_KEY_SCRIPT="press@200 release@450" keytest --presses 1 --seconds 5 COM2
[ $? -eq 0 ] && grep -q 'press 1: toggled on,  DTR on' out.txt &&
    grep -q '^ZelbinSetToggled(0): DTR off before stopping' out.txt
check "a test that ends toggled on turns DTR off" $?

# The driver going away and coming back mid-test are events, in the log
# and the summary too.
keytest_in_background --seconds 20 --log drv.csv COM1
host=$!
wait_for out.txt 'Polling every'
virtualkey driver off >/dev/null 2>&1
sleep 0.5
virtualkey driver on >/dev/null 2>&1
sleep 0.5
kill -INT "$host"
wait "$host"
status=$?
events="$(tr -d '\r' <drv.csv 2>/dev/null | tail -n +2 | cut -d, -f3 | tr '\n' ' ')"
[ "$status" -eq 0 ] && grep -q '\] driver lost: IsDriverInstalled -> 0' out.txt &&
    grep -q '\] driver back: IsDriverInstalled -> 1' out.txt && grep -q '^  driver          1 loss' out.txt &&
    [ "$events" = "driver_lost driver_back " ]
check "the driver going away and coming back are reported (log: $events)" $?

# Ctrl+C (Wine turns SIGINT into it) stops listening at once, without
# waiting out the poll interval, and ends cleanly. Only the wine process
# this script started is signalled.
keytest_in_background --seconds 29.75 --interval 10000 COM1
host=$!
wait_for out.txt 'Polling every'
kill -INT "$host"
wait "$host"
[ $? -eq 0 ] && grep -q 'ZelbinStopListen after .*(Ctrl+C)' out.txt && grep -q '^Summary: ' out.txt
check "Ctrl+C stops listening and ends with status 0" $?

# A bouncing press is flagged as chatter, and a clean press long after it
# is not. The script's bounces are 40 ms apart; --chatter is generous.
ZELBIN_KEY_SCRIPT="bounce@300/40 tap@2000" keytest --seconds 2.6 --chatter 1000 --interval 2 COM2
status=$?
last="$(grep '\] press [0-9]*:' out.txt | tail -n 1)"
[ "$status" -eq 0 ] && grep -q 'CHATTER: ' out.txt && grep -q '^  chatter  *[1-9][0-9]* press' out.txt &&
    [ -n "$last" ] && ! grep -q CHATTER <<<"$last"
check "a bouncing press is flagged as chatter, a clean one is not" $?

# Press lengths: a press held 500 ms is reported within a generous margin.
ZELBIN_KEY_SCRIPT="press@300 release@800" keytest --seconds 2 COM1
held="$(sed -n 's/.*\] release 1: held \([0-9]*\)\.[0-9] ms.*/\1/p' out.txt)"
[ -n "$held" ] && [ "$held" -ge 250 ] && [ "$held" -le 1500 ] && grep -q '^  shortest press  ' out.txt
check "a 500 ms press is reported as held about that long (saw ${held:-nothing} ms)" $?

# A key closed when the test starts is warned about, on the host's own port
# (COM3 here), and counted as the first press.
ZELBIN_KEY_SCRIPT="press@0" keytest --seconds 0.5 COM3
grep -q '^Warning: The key is already closed at start' out.txt && [ "$(presses)" -eq 1 ] &&
    grep -q 'CTS stayed on the whole test' out.txt
check "a key closed at start is warned about" $?

# --presses that isn't reached within --seconds has its own exit status.
ZELBIN_KEY_SCRIPT="tap@200" keytest --presses 3 --seconds 1 COM1
[ $? -eq 3 ] && [ "$(presses)" -eq 1 ] && grep -q 'Fewer than the 3 presses' out.txt
check "--presses 3 not reached within --seconds ends with status 3" $?

# --seconds ends the test on time even with a long poll interval.
keytest --interval 10000 --seconds 0.3 COM1
took="$(sed -n 's/^ZelbinStopListen after \([0-9]*\)\..*/\1/p' out.txt)"
[ -n "$took" ] && [ "$took" -lt 5 ]
check "--seconds 0.3 with --interval 10000 ends well before the interval (took ${took:-?} s)" $?

# The preflight names what the parameter text selects and warns.
keytest --seconds 0.2 com2
grep -q 'device "COM1", UART at 03F8h' out.txt && grep -q "^Warning: 'com2' is not one of the names" out.txt &&
    grep -q 'stand-in io.dll' out.txt && grep -q 'driver : answers' out.txt
check "a name not in the table is warned about" $?
keytest --seconds 0.2 "COM9;3F8"
status=$?
grep -q 'ends in a hex digit' out.txt && grep -q '003Fh lies outside 0100h to FFF9h' out.txt &&
    ! grep -q "Windows can't open the device" out.txt && grep -q '^  nothing tested  the library refused' out.txt &&
    ! grep -q '^Hint: ' out.txt && [ "$status" -eq 4 ]
check "a missing suffix and a refused base are warned about, the device isn't; status 4 (saw $status)" $?
keytest --seconds 0.2 "COM9;2E8h"
status=$?
grep -q "Windows can't open the device \"COM9\"" out.txt && ! grep -q '%1' out.txt && [ "$status" -eq 0 ]
check "a device Windows can't open is warned about" $?
keytest --seconds 0.2 "COM2;0x2F8h"
grep -q "starts with 0x: the library takes no prefix" out.txt && grep -q "Write it as '2F8h'" out.txt
check "a 0x prefix is named for what it is" $?

# The records: a CSV log with a row per event, a VCD trace for viewers.
# The log is a Windows text file: its lines end in CR LF, which is read
# here as one line end.
ZELBIN_KEY_SCRIPT="press@300 release@600 press@900 release@1200" keytest --seconds 1.6 --log k.csv --vcd k.vcd COM1
status=$?
tr -d '\r' <k.csv >k.txt 2>/dev/null
rows="$(tail -n +2 k.txt | cut -d, -f3 | tr '\n' ' ')"
[ "$status" -eq 0 ] && [ "$(head -n 1 k.txt)" = "time,seconds,event,press,held_ms,gap_ms,chatter,dtr" ] &&
    [ "$rows" = "press release press release " ] && [ "$(wc -l <k.txt)" -eq "$(grep -c $'\r$' k.csv)" ]
check "--log writes a row for each event, each line ending in CR LF (saw: $rows)" $?
if command -v sigrok-cli >/dev/null 2>&1; then
    # The whole output to a file: a grep -q quitting early could kill
    # sigrok-cli with SIGPIPE, failing a good trace under pipefail.
    sigrok-cli -I vcd -i k.vcd -O vcd >sigrok.txt 2>/dev/null &&
        grep -q '^\$var wire 1 . CTS \$end' sigrok.txt
    check "--vcd writes a trace that sigrok-cli reads" $?
fi

# Failures are named and end with a non-zero status.
# A log that can't be written ends the test before anything is claimed,
# and leaves a trace already there as it was.
cp k.vcd kept.vcd
keytest --seconds 1 --log "$work/missing/k.csv" --vcd k.vcd COM1
[ $? -eq 1 ] && grep -q 'cannot write the log .*missing' out.txt && cmp -s k.vcd kept.vcd
check "a log that can't be written is named, and the trace beside it is left as it was" $?

keytest --dll "$work/missing/Zelbin_Serial.dll"
[ $? -eq 1 ] && grep -q 'Zelbin_Serial.dll not found: .*missing' out.txt
check "a missing DLL is named" $?

keytest --dll "$bin/io.dll"
[ $? -eq 1 ] && grep -q 'io.dll has no export ZelbinIsCustom; is it Zelbin_Serial.dll?' out.txt
check "a DLL without the exports names the missing export" $?

mkdir -p alone && cp "$bin/Zelbin_Serial.dll" alone/
keytest --dll alone/Zelbin_Serial.dll
[ $? -eq 1 ] && grep -q 'cannot load .*alone.Zelbin_Serial.dll' out.txt && grep -q 'It needs io.dll' out.txt
check "a DLL whose io.dll is missing says so" $?

mkdir -p bad && echo "not a DLL" >bad/io.dll
keytest --io bad/io.dll
[ $? -eq 1 ] && grep -q 'cannot load \(io.dll: .*\|.*bad.io.dll: \)' out.txt && ! grep -q '%1' out.txt &&
    [ "$(grep -o 'bad.io.dll' out.txt | wc -l)" -eq 1 ]
check "a broken --io file is named once, as the io.dll being loaded, with no raw placeholder" $?

# DLLs of the other edition: the file and both architectures are named,
# not Windows' bare "not a valid Win32 application" (error 193).
if [ -n "$other" ] && [ -f "$other/Zelbin_Serial.dll" ]; then
    mine=x86 theirs=x64 bits=32-bit theirbits=64-bit
    [ "${ZELBIN_ARCH:-x86}" = x64 ] && mine=x64 theirs=x86 bits=64-bit theirbits=32-bit
    # The host's files are right, the tester is of the other kind: the
    # tester to run instead is named, not the file to replace.
    keytest --dll "$other/Zelbin_Serial.dll"
    [ $? -eq 1 ] && grep -q "Zelbin_Serial.dll is of the $theirs edition (for $theirbits hosts); this is the $bits tester, which loads the $mine edition only. For this host use the $theirs edition's tester: $theirs.zelbin-keytest.exe" out.txt &&
        ! grep -q "take the $mine edition's file" out.txt
    check "a key library of the other edition ($theirs) names the tester to use for that host" $?
    mkdir -p mixed && cp "$bin/Zelbin_Serial.dll" mixed/ && cp "$other/io.dll" mixed/
    keytest --dll mixed/Zelbin_Serial.dll
    [ $? -eq 1 ] && grep -q "the io.dll it imports, .*mixed.io.dll, is an $theirs DLL, and this $bits process" out.txt &&
        [ "$(grep -o 'mixed.Zelbin_Serial.dll' out.txt | wc -l)" -eq 1 ]
    check "a key library beside an io.dll of the other edition names the io.dll, both architectures, and the library once" $?
    keytest --io "$other/io.dll"
    [ $? -eq 1 ] && grep -q "io.dll is of the $theirs edition (for $theirbits hosts); this is the $bits tester" out.txt
    check "--io naming an io.dll of the other edition names the tester to use" $?
fi

keytest --interval 0
[ $? -eq 2 ] && grep -q -- "--interval needs milliseconds from 1 to 10000, not '0'" out.txt
check "a bad option gives status 2 and says why" $?

keytest --seconds=0.2 --interval=5 COM1
[ $? -eq 0 ] && grep -q 'Polling every 5 ms' out.txt
check "--option=value is accepted" $?

keytest --io "$bin/Zelbin_Serial.dll"
[ $? -eq 2 ] && grep -q -- "--io must name a file called io.dll" out.txt
check "--io naming another file is a command-line mistake" $?

mkdir -p adir
keytest --io adir
[ $? -eq 2 ] && grep -q -- "--io names a folder" out.txt
check "--io naming a folder says so" $?

keytest --dll --io x
[ $? -eq 2 ] && grep -q -- '--dll needs a path' out.txt
check "an option does not take the next option as its value" $?

virtualkey driver >out.txt 2>&1
[ $? -eq 2 ] && grep -q 'driver needs on or off' out.txt
check "virtual key: driver without on or off is a usage error" $?

virtualkey tap >out.txt 2>&1
[ $? -eq 1 ] && grep -q 'no program in this Windows session uses the stand-in' out.txt
check "virtual key: a tap with no host running fails and says why" $?

keytest --help
[ $? -eq 0 ] && grep -q -- '--presses N' out.txt && grep -q '^  3  --presses N was given' out.txt &&
    grep -q '^  4  nothing could be tested' out.txt && ! grep -q 'sim\\' out.txt
check "--help explains the options and every exit status" $?

# --ports from what Wine gives: none of Windows' lists holds a port (the
# prefix's mount manager is off), but COM1 to COM4, the key library's
# standard names, open: links to /dev/null, listed as such and opened as no
# serial port.
keytest --ports
status=$?
listed=0
for n in 1 2 3 4; do
    has_line "COM$n" out.txt && listed=$((listed + 1))
done
[ "$status" -eq 0 ] && [ "$listed" -eq 4 ] && [ "$(grep -c 'now     : opens, but is not a serial port' out.txt)" -eq 4 ] &&
    grep -q 'io-ports.txt: not there' out.txt
check "--ports lists the prefix's COM1 to COM4 as no serial ports" $?

# --find over the same ports: nothing can be watched, said plainly, and with
# --write-map nothing is written. A key found and its map written are
# checked on the build machine, over simulated COM devices (KeySetupTest):
# here the tester's serial calls reach only the prefix's /dev/null links. The comm-port io.dll's folder is a copy,
# so the map written there is this test's own.
mkdir -p find && cp "$bin/commio/io.dll" find/
echo "any = COM3 # by hand" >find/io-ports.txt
keytest --find --write-map --seconds 1 --io find/io.dll
[ $? -eq 5 ] && [ "$(grep -c '^  skipped  COM[1-4]: not a serial port' out.txt)" -eq 4 ] &&
    grep -q '^No port could be watched' out.txt && grep -q '^Every port searched is closed' out.txt &&
    [ "$(cat find/io-ports.txt)" = "any = COM3 # by hand" ] && [ ! -e find/io-ports.txt.bak ]
check "--find with no serial port says so, ends with status 5 and writes no map" $?

keytest --find --write-map=no --seconds 1 --io find/io.dll
[ $? -eq 2 ] && grep -q -- '--write-map takes no value' out.txt && ! grep -q '^Finding the key' out.txt &&
    [ "$(cat find/io-ports.txt)" = "any = COM3 # by hand" ] && [ ! -e find/io-ports.txt.bak ]
check "--write-map=no is a command-line mistake: status 2, no search and no map written" $?

# The search and the port list over a port Wine's own serial driver serves:
# COM7 is the scripted modem-line device, here an adapter of the CDC class,
# which reports no CTS, with the key on DSR. A copy of the real tester sits
# beside a SETUPAPI.dll of the tests' own, which lists COM7 as Windows would
# (friendly name, USB identity, its driver's service usbser) and COM6, a
# port that is listed but not there; every serial call is Wine's. The
# device's record says which lines the tester set.
mkdir -p findsim && cp "$bin/zelbin-keytest.exe" "$bin/Zelbin_Serial.dll" "$bin/find-sim/SETUPAPI.dll" findsim/
# keytest_on_com7 BEHAVIOUR LINE SCRIPT START-ON RECORD ARGS...: the copy, with COM7 served as asked.
keytest_on_com7() {
    local behaviour="$1" line="$2" script="$3" start="$4" record="$5"
    shift 5
    ZELBIN_WINEDLLOVERRIDES="setupapi=n,b" "$ttydev/zelbin-ttydev" run --prefix "$prefix" --port COM7 \
        --record "$record" --behaviour "$behaviour" --line "$line" ${script:+--script "$script"} \
        ${start:+--start-on "$start"} --timeout 60 -- "$scripts/wine-exec.sh" "$prefix" findsim/zelbin-keytest.exe \
        "$@" >out.txt 2>&1
}
# The output lines COM7's record says were set, as "dtr rts" pairs.
set_lines() { awk '$1 == "set" { print (int($5 / 2) % 2) " " (int($5 / 4) % 2) }' "$1"; }
# A map that carries another key already: without the host's parameters
# for this one, nothing is written and the technician is asked which UART
# it is for; with them, its line goes beside the other.
echo "any = COM3 # by hand" >find/io-ports.txt
rm -f find/io-ports.txt.bak
keytest_on_com7 cdc DSR "tap@600 tap@1400 tap@2200" "Press the key" ask.record --find --write-map --seconds 20 \
    --io find/io.dll
[ $? -eq 1 ] && grep -q 'io-ports.txt carries any UART on COM3 (line 1), and not COM7\. Which UART of the host' out.txt &&
    [ "$(cat find/io-ports.txt)" = "any = COM3 # by hand" ] && [ ! -e find/io-ports.txt.bak ]
check "--find --write-map beside another key's line, without the host's parameters, asks and writes nothing" $?
keytest_on_com7 cdc DSR "tap@600 tap@1400 tap@2200" "Press the key" find.record --find --write-map --seconds 20 \
    --io find/io.dll 'COM7;2F8h'
status=$?
cp out.txt "$bin/find-transcript.txt"
map_line='2F8 = COM7 usb=1209:5A4B:ZK0001 line=DSR'
[ "$status" -eq 0 ] && grep -q '^  watching COM7 (USB Serial Device (COM7))' out.txt &&
    grep -q '^  skipped  COM6 (Communications Port (COM6)): missing: not there now: plug the adapter in' out.txt &&
    grep -q '^  COM7 DSR changed (3)' out.txt &&
    grep -q '^The key is on COM7, USB Serial Device, line DSR, closes when pressed (3 presses seen)\.' out.txt &&
    has_line "  $map_line" out.txt &&
    grep -q "^Wrote .* (the previous one is .*io-ports.txt.bak) .*line 5 added, '$map_line': COM7 carries the key for the UART at 02F8h; kept as they were: line 1 (any = COM3)" out.txt &&
    has_line "$map_line" find/io-ports.txt && has_line "any = COM3 # by hand" find/io-ports.txt &&
    [ "$(grep -c $'\r$' find/io-ports.txt)" -eq "$(wc -l <find/io-ports.txt)" ] &&
    [ "$(cat find/io-ports.txt.bak)" = "any = COM3 # by hand" ] &&
    ! set_lines find.record | grep -q '^1 ' && set_lines find.record | grep -q ' 1$' &&
    [ "$(set_lines find.record | tail -1)" = "0 0" ]
check "--find --write-map with the host's parameters finds the key on DSR behind a CDC-class adapter, says and adds its line beside the other in CR LF, never raises DTR and leaves the lines off" $?

# A folder that refuses the write (an administrator's folder, as Program
# Files is to others): said as such, and nothing changed.
cp find/io-ports.txt refused.txt
mkdir -p find/io-ports.txt.new
keytest_on_com7 cdc DSR "tap@600 tap@1400 tap@2200" "Press the key" refused.record --find --write-map --seconds 20 \
    --io find/io.dll 'COM7;2F8h'
[ $? -eq 1 ] && grep -q "^can't write .*io-ports.txt.new: no right to write in that folder" out.txt &&
    cmp -s refused.txt find/io-ports.txt
check "--write-map into a folder that refuses the write says so and changes nothing" $?
rmdir find/io-ports.txt.new

# The map just written, as the technician tests with it: the comm-port
# io.dll finds the adapter by its identity through the listing and carries
# the key from DSR to the library's CTS.
cp "$bin/commio/io.dll" find/
keytest_on_com7 cdc DSR "tap@400 tap@1000 tap@1600" "Polling every" test.record --io find/io.dll --presses 3 \
    --seconds 20 'COM7;2F8h'
[ $? -eq 0 ] && grep -q 'usb=1209:5A4B:ZK0001 on COM7 for 02F8h (key line DSR): held' out.txt &&
    grep -q '^ZelbinStopListen after .*: 3 presses' out.txt
check "the comm-port io.dll finds the adapter by its identity and a test counts the three presses on DSR" $?

# --ports probes COM7 and says the CDC-class adapter reports no CTS; a map
# that reads the key on its CTS is warned of, in the list and before a test.
echo "any = COM7" >find/io-ports.txt
keytest_on_com7 cdc DSR "" "" ports.record --ports --io find/io.dll
grep -q '^COM7  USB Serial Device (COM7)' out.txt && grep -q '^  now     : free' out.txt &&
    grep -q '^  now     : missing: listed, but not there now: plug the adapter in' out.txt &&
    grep -q '^  identity: USB 1209:5A4B, serial ZK0001' out.txt &&
    grep -q '^  driver  : usbser, a CDC-class adapter: reports DSR, DCD and RI, no CTS; wire a key to DSR or DCD' out.txt &&
    grep -q '^  map     : line 1 of io-ports.txt, which reads the key on CTS: add line=DSR' out.txt
check "--ports probes the scripted port and says a CDC-class adapter reports no CTS, warning of a map line on its CTS" $?
keytest_on_com7 cdc DSR "" "" cts.record --io find/io.dll --seconds 0.5 'COM7;3F8h'
grep -q '^Warning: io-ports.txt line 1 reads the key on CTS of COM7, a CDC-class adapter' out.txt
check "a test whose map reads the key on a CDC-class adapter's CTS is told to wire DSR or DCD" $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
