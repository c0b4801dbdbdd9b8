#!/usr/bin/env bash
# The key tester's records, read back by outside readers: the VCD trace by
# sigrok-cli, the CSV log parsed here and matched against the events the
# tester prints. key_trace runs the library on simulated time, so every
# time below is exact.
# Usage: records-test.sh KEY_TRACE
set -uo pipefail
trace="$(realpath "$1")"
if ! command -v sigrok-cli >/dev/null 2>&1; then
    echo "FAIL sigrok-cli is missing; scripts/setup.sh host installs it" >&2
    exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
check() { # name status [details]
    if [ "$2" -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1${3:+: $3}"
    fi
}

# A tap, a bouncing press and a tap, polled every 5 ms. The bounce closes the
# key at 400 ms, opens it at 415, closes at 430, opens at 445 and closes at
# 460 for good; it is released at 560.
"$trace" "tap@100 bounce@400 tap@900" COM2 1.2 k.vcd k.csv >events.txt || {
    echo "FAIL key_trace did not run"
    exit 1
}

# Both are Windows text files: every line ends in CR LF. Read on below
# without the CR.
crlf() { [ "$(grep -c $'\r$' "$1")" -eq "$(wc -l <"$1")" ] && [ "$(wc -l <"$1")" -gt 1 ]; }
crlf k.csv && crlf k.vcd
check "every line of the log and the trace ends in CR LF" $?
for record in k.csv k.vcd; do
    tr -d '\r' <"$record" >"$record.lf" && mv "$record.lf" "$record"
done

# sigrok-cli reads the trace and samples it at 1 kHz: row n is millisecond n.
# (It also prints the sample rate as a META line, which is set aside.)
sigrok-cli -I vcd:downsample=1000 -i k.vcd -O csv:label=channel:header=false >sigrok.txt 2>&1
check "sigrok-cli reads the VCD file" $? "$(head -n 3 sigrok.txt)"
grep -v '^META ' sigrok.txt >samples.csv
edges() { # CHANNEL rise|fall: the milliseconds at which it changes so
    awk -F, -v want="$1" -v way="$2" '
        NR == 1 { for (i = 1; i <= NF; ++i) if ($i == want) col = i; next }
        col && NR > 2 && prev != $col && ((way == "rise") == ($col == 1)) { printf "%d ", NR - 2 }
        col { prev = $col }' samples.csv
}
[ "$(head -n 1 samples.csv)" = "CTS,DTR,RTS,press" ]
check "the trace has CTS, DTR, RTS and press" $? "$(head -n 1 samples.csv)"
cts_rises="$(edges CTS rise)"
[ "$cts_rises" = "100 400 430 460 900 " ]
check "CTS closes at the scripted presses and bounces" $? "$cts_rises"
cts_falls="$(edges CTS fall)"
[ "$cts_falls" = "200 415 445 560 1000 " ]
check "CTS opens at the scripted releases" $? "$cts_falls"
press_rises="$(edges press rise)" press_falls="$(edges press fall)"
[ "$press_rises" = "100 400 430 460 900 " ] && [ "$press_falls" = "105 405 435 465 905 " ]
check "each press answer is a pulse of one poll" $? "$press_rises / $press_falls"
dtr="$(edges DTR rise)/$(edges DTR fall)"
[ "$dtr" = "100 430 900 /400 460 " ]
check "DTR follows the toggled state" $? "$dtr"
[ -z "$(edges RTS fall)" ] && [ "$(awk -F, 'NR == 2 { print $3 }' samples.csv)" = 1 ]
check "RTS stays on while listening" $?

# The CSV log: its header, then a row for each printed event, in order.
[ "$(head -n 1 k.csv)" = "time,seconds,event,press,held_ms,gap_ms,chatter,dtr" ]
check "the log starts with its header" $? "$(head -n 1 k.csv)"
printed="$(sed -n 's/^\[ *\([0-9.]*\) s\] \(press\|release\) \([0-9]*\):.*/\1,\2,\3/p' events.txt)"
logged="$(tail -n +2 k.csv | cut -d, -f2-4)"
[ -n "$printed" ] && [ "$printed" = "$logged" ]
check "the log has a row for each event printed, in order" $? "$(paste -d' ' <(echo "$printed") <(echo "$logged") | tr '\n' ';')"
rows="$(tail -n +2 k.csv | awk -F, '
    NF != 8 { bad = bad " fields:" NR }
    { split($1, t, /[T:]/); wall = (t[2] - 9) * 3600 + t[3] * 60 + t[4]
      if (sprintf("%.3f", wall) != $2) bad = bad " wall:" NR }
    $3 == "press" { pressedAt = $2; if ($5 != "") bad = bad " held:" NR
                    if (released != "" && sprintf("%.1f", ($2 - released) * 1000) != $6) bad = bad " gap:" NR
                    if ($7 != ($6 != "" && $6 < 30)) bad = bad " chatter:" NR
                    chatter = chatter $4 "=" $7 " " }
    $3 == "release" { released = $2; if (sprintf("%.1f", ($2 - pressedAt) * 1000) != $5) bad = bad " held:" NR }
    END { if (NR == 0) bad = " no rows"; print (bad == "" ? "good" : bad) "|" chatter }')"
[ "${rows%%|*}" = good ]
check "every row is consistent: wall clock, press lengths, gaps, chatter" $? "$rows"
[ "${rows#*|}" = "1=0 2=0 3=1 4=1 5=0 " ]
check "the bounce's second and third closings are chatter" $? "${rows#*|}"

# The test ends toggled on (five presses): DTR is turned off before the
# stop, and the trace shows it.
last_dtr="$(grep -E '^[01]"$' k.vcd | tail -n 1)"
[ "$last_dtr" = '0"' ]
check "DTR is off at the end of the trace" $? "$last_dtr"

# The driver going away and coming back: rows of their own, in time order
# among the presses, and a line in the summary.
"$trace" "tap@100 tap@600" COM2 1.0 d.vcd d.csv 300-500 >driver.txt
status=$?
tr -d '\r' <d.csv >d.lf && mv d.lf d.csv
rows="$(tail -n +2 d.csv | cut -d, -f2,3 | tr '\n' ' ')"
[ "$status" -eq 0 ] &&
    [ "$rows" = "0.100,press 0.200,release 0.300,driver_lost 0.500,driver_back 0.600,press 0.700,release " ] &&
    grep -q '^  driver          1 loss, 0.20 s without it in all' driver.txt
check "the driver's outage is in the log and the summary" $? "status $status; $rows"

# A refused base tests nothing: status 4, no row, no hint.
"$trace" "tap@100" "COM9;2E8" 0.5 r.vcd r.csv >refused.txt
status=$?
[ "$status" -eq 4 ] && [ "$(wc -l <r.csv)" -eq 1 ] && grep -q '^  nothing tested  the library refused' refused.txt &&
    ! grep -q '^Hint: ' refused.txt
check "a refused base ends with status 4 and no hint" $? "status $status"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
