#!/usr/bin/env python3
"""A host that loads Zelbin_Serial.dll with the comm-port io.dll beside it,
starts listening on a scripted port (testing/ttydev, the device behind
Wine's own serial driver), polls, stops and frees the library, CYCLES times
under Wine (tests/ttydev/wine/LoadCyclesHost.cpp), for each edition given
that this machine runs. What the process holds after the first cycle, the
middle one and the last is printed as a table; it must stay flat from the
middle to the last: the same open handles, thread-local slot, threads and
modules; the bytes the heaps hold in use grown by no more than HEAP_SLACK
and the committed memory by no more than COMMITTED_SLACK_KB (the heaps'
own bookkeeping, not a cycle's worth of anything: over ten thousand cycles
a leak of a single byte per cycle would pass HEAP_SLACK), beyond what the
serial driver itself keeps for the wait that each unload cancels (Wine's
keeps a few hundred bytes a time; the host measures it on the port first),
and the committed memory by no more than twice that again (the pages the
heap commits for it).
Every cycle must hold the device.

Usage: load-cycles.py --edition ARCH=BUILD_DIR... [--cycles N]

ARCH is x86 or x64; BUILD_DIR a Windows build (its bin/, ttydev-native/
and wineprefix/). Exit status: 0 flat, 1 not flat or a run failed, 2 bad
command line, 77 no edition given can run here (a "SKIPPED: reason" line).
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")
PORT = "COM20"  # apart from the scripted runs' COM10 and up
HEAP_SLACK = 4096
COMMITTED_SLACK_KB = 256
FLAT = ("handles", "tls", "threads", "modules")
COLUMNS = ("handles", "private_kb", "heap_bytes", "tls", "threads", "modules")


def unusable(arch, build):
    usable = subprocess.run([os.path.join(SCRIPTS, "wine-usable.sh"), arch], capture_output=True, text=True)
    if usable.returncode != 0:
        return usable.stderr.strip().replace("SKIPPED: ", "", 1) or "Wine can't run %s programs" % arch
    native = os.path.join(build, "ttydev-native", "testing", "ttydev")
    needed = [os.path.join(native, "zelbin-ttydev"), os.path.join(build, "bin", "load_cycles_host.exe"),
              os.path.join(build, "bin", "Zelbin_Serial.dll"), os.path.join(build, "bin", "commio", "io.dll")]
    missing = [path for path in needed if not os.path.exists(path)]
    return "not built: %s" % ", ".join(os.path.relpath(m, ROOT) for m in missing) if missing else None


def run(arch, build, cycles):
    """Runs the host; returns (samples, log), samples a list of dicts."""
    bin_dir = os.path.join(build, "bin")
    folder = os.path.join(build, "load-cycles")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(os.path.join(bin_dir, "Zelbin_Serial.dll"), folder)
    shutil.copy(os.path.join(bin_dir, "commio", "io.dll"), folder)
    with open(os.path.join(folder, "io-ports.txt"), "w") as out:
        out.write("any = %s\n" % PORT)
    native = os.path.join(build, "ttydev-native", "testing", "ttydev")
    prefix = os.path.join(build, "wineprefix")
    command = [os.path.join(native, "zelbin-ttydev"), "run", "--prefix", prefix, "--port", PORT,
               "--record", os.path.join(folder, "record.txt"), "--behaviour", "uart", "--line", "CTS",
               "--script", "", "--timeout", str(60 + cycles * 0.2), "--",
               os.path.join(SCRIPTS, "wine-exec.sh"), prefix, os.path.join(bin_dir, "load_cycles_host.exe"),
               "Z:" + os.path.join(folder, "Zelbin_Serial.dll"), "%s;3F8h" % PORT, str(cycles)]
    output = os.path.join(folder, "output.txt")
    # Into a file, not a pipe: a Wine server the run starts keeps its
    # output open long after the run.
    with open(output, "w") as out:
        ran = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                             env=dict(os.environ, ZELBIN_ARCH=arch))
    with open(output, errors="replace") as out:
        log = out.read().replace("\r", "")
    samples = []
    for line in log.splitlines():
        words = line.split()
        if words[:2] == ["driver", "waits"] and len(words) == 7:
            samples.append({"cycle": 0, "driver_waits": int(words[2]), "driver_heap": int(words[4]),
                            "driver_heap_again": int(words[6])})
        if words[:1] == ["cycle"] and len(words) == 2 + 2 * len(COLUMNS):
            samples.append({"cycle": int(words[1]), **{words[i]: int(words[i + 1]) for i in range(2, len(words), 2)}})
    if ran.returncode != 0:
        log += "\n(the run ended with status %d)" % ran.returncode
        return None, log
    return samples, log


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--edition", action="append", required=True, metavar="ARCH=BUILD_DIR")
    parser.add_argument("--cycles", type=int, default=100)
    args = parser.parse_args()
    if not 2 <= args.cycles <= 1000000:
        parser.error("--cycles takes 2 to 1000000")
    editions = []
    for text in args.edition:
        arch, _, build = text.partition("=")
        if arch not in ("x86", "x64") or not build:
            parser.error("--edition takes x86=BUILD_DIR or x64=BUILD_DIR, not '%s'" % text)
        editions.append((arch, os.path.realpath(build)))

    usable, skipped = [], []
    for arch, build in editions:
        why = unusable(arch, build)
        if why:
            print("%s: not run: %s" % (arch, why))
            skipped.append("%s: %s" % (arch, why))
        else:
            usable.append((arch, build))
    if not usable:
        print("SKIPPED: no edition can run here: %s" % "; ".join(skipped))
        return 77

    print("%d load, start, poll, stop and free cycles per edition, over the scripted port %s" % (args.cycles, PORT))
    print("%-7s %8s %8s %13s %10s %4s %8s %8s" % ("edition", "cycle", "handles", "committed KiB", "heap bytes",
                                                  "TLS", "threads", "modules"))
    failures = []
    for arch, build in usable:
        prepared = subprocess.run([os.path.join(SCRIPTS, "wine-prefix.sh"), os.path.join(build, "wineprefix")],
                                  env=dict(os.environ, ZELBIN_ARCH=arch), capture_output=True, text=True)
        if prepared.returncode != 0:
            failures.append("%s: the Wine prefix can't be used:\n%s" % (arch, prepared.stderr))
            continue
        started = time.time()
        samples, log = run(arch, build, args.cycles)
        seconds = time.time() - started
        driver = [s for s in samples if "driver_heap" in s]
        samples = [s for s in samples if "driver_heap" not in s]
        if not samples or len(samples) != 3 or len(driver) != 1:
            failures.append("%s: the host did not finish its cycles:\n%s" % (arch, "\n".join(
                "    | " + line for line in log.splitlines()[-25:])))
            continue
        for sample in samples:
            print("%-7s %8d %8d %13d %10d %4d %8d %8d" % (arch, sample["cycle"], *(sample[c] for c in COLUMNS)))
        middle, last = samples[1], samples[2]
        grown = ["%s (%d, then %d)" % (what, middle[what], last[what]) for what in FLAT if last[what] != middle[what]]
        # What the driver itself keeps for the wait each unload cancels is
        # not the DLLs': measured twice, which must agree to a byte a wait.
        waits, heap, again = driver[0]["driver_waits"], driver[0]["driver_heap"], driver[0]["driver_heap_again"]
        if abs(heap - again) > waits:
            failures.append("%s: the driver's own cost differs between two measures: %d and %d heap bytes for %d "
                            "waits" % (arch, heap, again, waits))
            continue
        drivers = max(heap, again) * (last["cycle"] - middle["cycle"]) // waits if waits else 0
        if last["heap_bytes"] - middle["heap_bytes"] > HEAP_SLACK + drivers:
            grown.append("heap bytes in use (+%d, the driver's %d)" % (last["heap_bytes"] - middle["heap_bytes"],
                                                                     drivers))
        # The heap commits pages for the driver's bytes, with its own
        # headers: twice them is allowed.
        if last["private_kb"] - middle["private_kb"] > COMMITTED_SLACK_KB + 2 * drivers // 1024:
            grown.append("committed memory (+%d KiB, the driver's heap bytes %d KiB)" % (
                last["private_kb"] - middle["private_kb"], drivers // 1024))
        if grown:
            failures.append("%s: grew from cycle %d to %d: %s" % (arch, middle["cycle"], last["cycle"],
                                                                 ", ".join(grown)))
        print("%-7s %d cycles in %.0f s, %.1f ms each; the serial driver keeps %.1f heap bytes a cancelled wait" % (
            arch, args.cycles, seconds, 1000 * seconds / args.cycles, max(heap, again) / waits if waits else 0))
    for failure in failures:
        print("FAIL " + failure)
    print("%d passed, %d failed" % (len(usable) - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
