#!/usr/bin/env bash
# Runs the benchmarks and the instruction count of one poll, and sums up
# what the library costs a host.
# Usage: scripts/bench.sh BENCH_BUILD_DIR
set -euo pipefail
build="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
bench="$build/bench/library_bench"
count="$build/bench/poll_count"

echo "Machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | sed -n 1p)"
echo "(Google Benchmark's 'Library was built as DEBUG' below is about Debian's build of"
echo " the benchmark library itself; the code measured is built with -O3.)"
echo
"$bench" --benchmark_min_time=0.3 --benchmark_out="$build/bench.csv" --benchmark_out_format=csv

cpu_ns() { # benchmark name -> cpu time per iteration in ns
    awk -F, -v name="\"$1\"" '$1 == name {
        t = $4; u = $5
        if (u == "us") t *= 1000; else if (u == "ms") t *= 1000000; else if (u == "s") t *= 1e9
        print t }' "$build/bench.csv"
}
poll="$(cpu_ns BM_PollWhileListening)"
backend="$(cpu_ns BM_BackendCallsOfOnePoll)"
echo
awk -v poll="$poll" -v backend="$backend" 'BEGIN {
    printf "Poll while listening: %.2f ns; the two backend calls alone: %.2f ns\n", poll, backend
    printf "Library overhead per poll: %.2f ns (poll / backend = %.2f)\n", poll - backend, poll / backend }'
# Nanoseconds differ several-fold from one machine to the next; each
# benchmark's time over the backend floor of the same run travels better.
echo "Each benchmark in units of the two backend calls of one poll, this run:"
awk -F, -v floor="$backend" 'NR > 1 && $1 ~ /^"BM_/ && $1 !~ /_(BigO|RMS)"$/ {
    t = $4; u = $5
    if (u == "us") t *= 1000; else if (u == "ms") t *= 1000000; else if (u == "s") t *= 1e9
    gsub(/"/, "", $1); printf "  %-40s %12.2f\n", $1, t / floor }' "$build/bench.csv"

# Instructions, not time: callgrind counts inside ZelbinIsZBToggle only,
# and the backend's share is taken out.
polls=100000
out="$build/poll.callgrind"
valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect=ZelbinIsZBToggle "$count" "$polls" 2>/dev/null
annotated="$(callgrind_annotate --inclusive=yes "$out" 2>/dev/null)"
# The first match, read with sed to the end: a head that quits early could
# kill the writer with SIGPIPE, which pipefail turns into a failure.
ir_of() { sed -n "s/^ *\([0-9,]*\) .*$1.*/\1/p" <<<"$annotated" | sed -n 1p | tr -d ,; }
total="$(ir_of 'PROGRAM TOTALS')"
driver="$(ir_of 'platform::IsDriverInstalled')"
bit="$(ir_of 'platform::GetPortBit')"
status=0
awk -v total="$total" -v driver="${driver:-0}" -v bit="${bit:-0}" -v polls="$polls" 'BEGIN {
    lib = (total - driver - bit) / polls
    printf "Instructions per poll (callgrind, %d polls): library %.1f, backend %.1f; target: library <= 20\n",
        polls, lib, (driver + bit) / polls
    exit !(lib <= 20) }' || status=1

# The comm-port io.dll's core polled as the library polls it (the driver
# check, then the CTS bit) over a simulated COM device: instructions inside
# its IsDriverInstalled and GetPortBit, the device's modem status call left
# out, reported, not gated; what is gated is the calls (the poll program
# fails where a quiet poll makes one). Once over a device that signals its
# line changes (a quiet poll: no device call and no clock read at all), once
# over a driver without comm events (one read per poll).
for mode in events no-events; do
    out="$build/commio-poll-$mode.callgrind"
    valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no \
        --toggle-collect='commio::CommIo::IsDriverInstalled()' --toggle-collect='commio::CommIo::GetPortBit(*' \
        "$build/bench/commio_poll_count" "$polls" "any = COM5" "$mode" 2>/dev/null || status=1
    annotated="$(callgrind_annotate --inclusive=yes "$out" 2>/dev/null)"
    total="$(ir_of 'PROGRAM TOTALS')"
    device="$(ir_of 'sim::ComDevices::ModemStatus')"
    awk -v total="$total" -v device="${device:-0}" -v polls="$polls" -v mode="$mode" 'BEGIN {
        printf "Comm-port io.dll (%s), instructions per poll (callgrind, %d polls): %.1f\n",
            mode, polls, (total - device) / polls }'
done
# The comm-port io.dll's core while the USB adapter its map names is
# unplugged: how often it lists the system's ports, on simulated time.
"$build/bench/adapter_lookup_count" || status=1

# Under Wine, over the scripted modem-line device: from a press to the
# host's poll that reports it (p50, p99, max) for each kind of adapter and
# poll interval, and the io.dll's own device calls per quiet poll, counted
# at the device by calling thread (tests/ttydev/scripted-runs.py bench).
# Needs the Windows builds (make bench builds them).
if [ -d "$root/build/windows-x64/bin" ]; then
    echo
    editions=(--edition "x64=$root/build/windows-x64")
    [ -d "$root/build/windows/bin" ] && editions+=(--edition "x86=$root/build/windows")
    /usr/bin/python3 "$root/tests/ttydev/scripted-runs.py" bench "${editions[@]}" || status=1
else
    echo "(no Windows build: the latency under Wine is left out; make windows builds it)"
fi
# The shipped binaries' sizes and what each imports, per edition built.
for edition in windows windows-x64; do
    bin="$root/build/$edition/bin"
    [ -f "$bin/Zelbin_Serial.dll" ] || continue
    echo
    echo "Shipped binaries, $([ "$edition" = windows ] && echo x86 || echo x64) (build/$edition):"
    /usr/bin/python3 "$root/tests/binary/check-imports.py" --report library="$bin/Zelbin_Serial.dll" \
        commio="$bin/commio/io.dll" standin="$bin/io.dll" keytest="$bin/zelbin-keytest.exe" \
        keytest-gui="$bin/zelbin-keytest-gui.exe" virtualkey="$bin/zelbin-virtualkey.exe" || status=1
done
exit "$status"
