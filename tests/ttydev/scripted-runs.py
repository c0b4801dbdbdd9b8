#!/usr/bin/env python3
"""The real Zelbin_Serial.dll and the comm-port io.dll under Wine, over the
scripted modem-line device (testing/ttydev), for each way an adapter's
driver answers: runs a host (scripted_port_host.exe) that polls every 20,
100 or 500 ms and sets DTR at each reported press, against random presses
of 2 to 50 ms, with the other input lines still or moving, and judges each
run from the script and the poll times alone (zelbin-ttydev judge).

Usage: scripted-runs.py check|soak|bench --edition ARCH=BUILD_DIR... [--seed N] [--lanes N] [--scale F]
                        [--only TEXT]

  check  a short run of each behaviour, and two with the other lines
         moving, for make test (one edition)
  soak   10,000 presses across the behaviours and poll intervals with the
         other lines still, and 8,000 more with each kind of activity on
         them (pulses before key edges, DSR following DTR, a ringing RI, a
         flapping DCD) across the behaviours, split between the editions
         given (those this machine runs); a table of presses, reported,
         merged, lost and invented and the longest poll per behaviour,
         activity and poll interval
  bench  the latency from a press to the poll that reports it (p50, p99,
         max) and the longest poll per behaviour and poll interval, and the
         io.dll's own device calls per quiet poll, counted at the device

ARCH is x86 or x64; BUILD_DIR a Windows build (its bin/, ttydev-native/
and wineprefix/). --lanes runs that many hosts side by side (check 2, else
3); --scale makes soak's and bench's plans that much smaller or larger;
--only runs only the runs whose name (their records' folder) holds TEXT.
The seed (random unless given) is printed first; the same seed makes the
same scripts, --only or not. Exit status: 0 passed, 1 failed, 2 bad
command line, 77 no edition given can run here (a "SKIPPED: reason" line).
"""

import argparse
import os
import random
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
SCRIPTS = os.path.join(ROOT, "scripts")

# How each behaviour is set up: the device's behaviour and the key's line,
# the port map's options, whether the key's line is reported at all, and
# how many times the device is unplugged and replugged per run.
BEHAVIOURS = {
    "uart": ("uart", "CTS", "", True, 0),
    "stale": ("stale", "CTS", "", True, 0),
    "cdc-dsr": ("cdc", "DSR", " line=DSR", True, 0),
    "slow": ("slow", "CTS", "", True, 0),
    "removal": ("uart", "CTS", "", True, 1),
    "cdc-cts": ("cdc", "CTS", "", False, 0),
}

# What moves on the other input lines (zelbin-ttydev random --activity; each
# kind on a line of its own, never the key's): "" for nothing.
ACTIVITIES = ("pulses", "dsr-follows-dtr", "ring", "flap")

# (behaviour, poll ms, presses, activity) per run.
CHECK = [("uart", 20, 12, ""), ("stale", 20, 12, ""), ("cdc-dsr", 20, 12, ""), ("cdc-cts", 20, 8, ""),
         ("slow", 20, 12, ""), ("removal", 100, 6, ""), ("stale", 100, 4, ""),
         ("uart", 20, 10, "pulses,ring,flap"), ("stale", 20, 6, "dsr-follows-dtr,flap")]
SOAK_PER_BEHAVIOUR = {20: 1400, 100: 450, 500: 150}
SOAK_UNSEEN = {20: 200, 100: 60, 500: 20}
# Each kind of activity: SOAK_PER_BEHAVIOUR's presses shared by these
# behaviours (those whose key's line leaves the kind one), and a quarter of
# SOAK_UNSEEN behind the adapter without CTS.
SOAK_ACTIVITY_BEHAVIOURS = ("uart", "stale", "cdc-dsr", "slow")
BENCH_PER_BEHAVIOUR = {20: 300, 100: 100, 500: 40}
MAX_RUN_SECONDS = 150  # a longer plan is split into runs of about this length


class Edition:
    def __init__(self, arch, build):
        self.arch = arch
        self.build = os.path.realpath(build)
        self.bin = os.path.join(self.build, "bin")
        self.native = os.path.join(self.build, "ttydev-native", "testing", "ttydev")
        self.prefix = os.path.join(self.build, "wineprefix")

    def unusable(self):
        """Why this edition can't run here, or None."""
        usable = subprocess.run([os.path.join(SCRIPTS, "wine-usable.sh"), self.arch], capture_output=True, text=True)
        if usable.returncode != 0:
            return usable.stderr.strip().replace("SKIPPED: ", "", 1) or "Wine can't run %s programs" % self.arch
        needed = [os.path.join(self.native, "zelbin-ttydev"),
                  os.path.join(self.native, "lib", "x86_64-linux-gnu", "libzelbin-ttydev.so"),
                  os.path.join(self.bin, "scripted_port_host.exe"), os.path.join(self.bin, "commio", "io.dll")]
        if self.arch == "x86":
            needed.append(os.path.join(self.native, "lib", "i386-linux-gnu", "libzelbin-ttydev.so"))
        missing = [path for path in needed if not os.path.exists(path)]
        if missing:
            return "not built: %s (g++-multilib makes the i386 library; scripts/setup.sh windows installs it)" % (
                ", ".join(os.path.relpath(m, ROOT) for m in missing))
        return None


class Run:
    """One host run: a behaviour, a poll interval, a script."""

    def __init__(self, edition, behaviour, poll_ms, presses, seed, name, quiet=False, activity=""):
        self.edition, self.behaviour, self.poll_ms, self.presses = edition, behaviour, poll_ms, presses
        self.seed, self.name, self.quiet, self.activity = seed, name, quiet, activity
        self.verdict = {}
        self.latencies = []
        self.longest_poll_ms = None
        self.quiet_calls = None
        self.log = ""
        self.failed = False

    def script(self, native):
        if self.quiet:
            return ""
        _, line, _, _, removals = BEHAVIOURS[self.behaviour]
        made = subprocess.run([os.path.join(native, "zelbin-ttydev"), "random", "--seed", str(self.seed),
                               "--presses", str(self.presses), "--poll", str(self.poll_ms),
                               "--removals", str(removals), "--line", line, "--activity", self.activity or "none"],
                              capture_output=True, text=True, check=True)
        return made.stdout.strip()

    def execute(self, port, work):
        edition = self.edition
        behaviour, line, options, seen, _ = BEHAVIOURS[self.behaviour]
        folder = os.path.join(work, self.name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        # The io.dll reads its port map beside itself: a copy of the built
        # io.dll per run, so that runs side by side have maps of their own.
        shutil.copy(os.path.join(edition.bin, "commio", "io.dll"), folder)
        with open(os.path.join(folder, "io-ports.txt"), "w") as out:
            out.write("any = %s%s\n" % (port, options))
        script = self.script(edition.native)
        # A script with the other lines moving is longer than one argument
        # may be: it goes in a file.
        script_file = os.path.join(folder, "script.txt")
        with open(script_file, "w") as out:
            out.write(script + "\n")
        # Long enough for the last press's window, and for a quiet host;
        # the other lines' activity after it is not waited for.
        key_ms = [int(item.split("@")[1].split("/")[0]) for item in script.split()
                  if item.split("@")[0] in ("press", "release", "unplug", "replug")]
        duration_ms = 4000 if self.quiet else max(key_ms or [0]) + 6 * self.poll_ms + 600
        record, polls = os.path.join(folder, "record.txt"), os.path.join(folder, "polls.txt")
        run = [os.path.join(edition.native, "zelbin-ttydev"), "run", "--prefix", edition.prefix, "--port", port,
               "--record", record, "--behaviour", behaviour, "--line", line, "--script-file", script_file]
        if "dsr-follows-dtr" in self.activity.split(","):
            run.append("--dsr-follows-dtr")
        run += ["--start-on", "listening", "--timeout", str(duration_ms / 1000 + 60), "--",
               os.path.join(SCRIPTS, "wine-exec.sh"), edition.prefix,
               os.path.join(edition.bin, "scripted_port_host.exe"), "Z:" + os.path.join(folder, "io.dll"),
               "%s;3F8h" % port, str(self.poll_ms), str(duration_ms), "Z:" + polls]
        env = dict(os.environ, ZELBIN_ARCH=edition.arch)
        started = time.time()
        # Into a file, not a pipe: a Wine server or service the run starts
        # keeps its output open long after the run.
        output = os.path.join(folder, "output.txt")
        with open(output, "w") as out:
            ran = subprocess.run(run, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT, env=env)
        self.seconds = time.time() - started
        with open(output, errors="replace") as out:
            self.log = out.read()
        if ran.returncode != 0:
            self.failed = True
            self.log += "\n(the run ended with status %d)" % ran.returncode
            return
        judge = [os.path.join(edition.native, "zelbin-ttydev"), "judge", "--record", record, "--polls", polls,
                 "--latencies", os.path.join(folder, "latencies.txt")]
        if not seen:
            judge.append("--unseen")
        if self.quiet:
            judge += ["--quiet-from", "500"]
        judged = subprocess.run(judge, capture_output=True, text=True)
        self.log += judged.stdout + judged.stderr
        words = judged.stdout.split("\n")[0].split()
        self.verdict = {words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2) if words[i + 1].isdigit()}
        with open(os.path.join(folder, "latencies.txt")) as lat:
            self.latencies = [float(v) for v in lat.read().split()]
        self.longest_poll_ms = longest_poll_ms(polls)
        for text in judged.stdout.splitlines():
            if text.startswith("quiet"):
                self.quiet_calls = text
        self.failed = judged.returncode != 0


def longest_poll_ms(path):
    """The longest of a host's polls, ZelbinIsZBToggle's call alone, in ms."""
    longest = None
    with open(path) as log:
        for text in log:
            words = text.split()
            if len(words) == 5 and words[0] == "poll":
                took = (int(words[2]) - int(words[1])) / 1e6
                longest = took if longest is None else max(longest, took)
    return longest


def label(run):
    return run.behaviour + ("+" + run.activity if run.activity else "")


def run_all(runs, lanes, work):
    """Runs side by side in `lanes` lanes, each with COM names of its own."""
    pending = list(runs)
    lock = threading.Lock()

    def lane(index):
        port = "COM%d" % (10 + index)
        while True:
            with lock:
                if not pending:
                    return
                run = pending.pop(0)
            run.execute(port, work)
            with lock:
                status = "FAILED" if run.failed else "ok"
                v = run.verdict
                longest = "%.1f" % run.longest_poll_ms if run.longest_poll_ms is not None else "-"
                print("  %-4s %-8s %4d ms  seed %-10d %3d presses: reported %s merged %s unseen %s lost %s invented %s "
                      "dtr %s  longest poll %s ms  (%.0f s) %s" % (
                          run.edition.arch, run.behaviour, run.poll_ms, run.seed, v.get("presses", 0),
                          v.get("reported", "-"), v.get("merged", "-"), v.get("unseen", "-"), v.get("lost", "-"),
                          v.get("invented", "-"),
                          v.get("dtr-mismatches", "-"), longest, run.seconds, status), flush=True)
                if run.activity:
                    print("       other lines: %s, %s changes" % (run.activity, v.get("other-changes", "-")),
                          flush=True)
                if run.failed:
                    print("\n".join("      " + line for line in run.log.splitlines()[-25:]), flush=True)

    threads = [threading.Thread(target=lane, args=(i,)) for i in range(lanes)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def split(presses, poll_ms):
    """A plan of `presses` as runs of at most MAX_RUN_SECONDS or so."""
    per_press_s = (2.9 * poll_ms + 26) / 1000
    runs = max(1, round(presses * per_press_s / MAX_RUN_SECONDS))
    return [presses // runs + (1 if i < presses % runs else 0) for i in range(runs)]


def plan(mode, editions, seeds, scale=1.0):
    runs = []
    if mode == "check":
        for behaviour, poll_ms, presses, activity in CHECK:
            runs.append(Run(editions[0], behaviour, poll_ms, presses, seeds.randrange(10 ** 9),
                            "-".join(filter(None, (behaviour, activity.replace(",", "+"), str(poll_ms)))),
                            activity=activity))
        return runs
    table = SOAK_PER_BEHAVIOUR if mode == "soak" else BENCH_PER_BEHAVIOUR
    for behaviour in BEHAVIOURS:
        per_poll = SOAK_UNSEEN if (mode == "soak" and behaviour == "cdc-cts") else table
        if mode == "bench" and behaviour == "cdc-cts":
            continue
        for poll_ms, presses in per_poll.items():
            for part, count in enumerate(split(max(1, round(presses * scale)), poll_ms)):
                edition = editions[len(runs) % len(editions)]
                runs.append(Run(edition, behaviour, poll_ms, count, seeds.randrange(10 ** 9),
                                "%s-%d-%d" % (behaviour, poll_ms, part)))
    if mode == "soak":
        for activity in ACTIVITIES:
            behaviours = [b for b in SOAK_ACTIVITY_BEHAVIOURS
                          if not (activity == "dsr-follows-dtr" and BEHAVIOURS[b][1] == "DSR")]
            for poll_ms in SOAK_PER_BEHAVIOUR:
                plan_of = [(b, SOAK_PER_BEHAVIOUR[poll_ms] // len(behaviours)) for b in behaviours]
                plan_of.append(("cdc-cts", SOAK_UNSEEN[poll_ms] // 4))
                for behaviour, presses in plan_of:
                    for part, count in enumerate(split(max(1, round(presses * scale)), poll_ms)):
                        edition = editions[len(runs) % len(editions)]
                        runs.append(Run(edition, behaviour, poll_ms, count, seeds.randrange(10 ** 9),
                                        "%s-%s-%d-%d" % (behaviour, activity, poll_ms, part), activity=activity))
    if mode == "bench":
        for edition in editions:
            for behaviour in BEHAVIOURS:
                if behaviour not in ("removal", "cdc-cts"):
                    runs.append(Run(edition, behaviour, 20, 0, 0, "quiet-%s-%s" % (behaviour, edition.arch),
                                    quiet=True))
    return runs


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))] if ordered else float("nan")


def editions_of(runs):
    return "+".join(sorted({r.edition.arch for r in runs}))


def soak_table(runs):
    print("\n%-9s %-16s %6s %8s %9s %7s %6s %5s %9s %8s  %s" % (
        "behaviour", "other lines", "poll", "presses", "reported", "merged", "unseen", "lost", "invented", "longest",
        "editions"))
    totals = [0] * 6
    for activity in ("",) + ACTIVITIES:
        for behaviour in BEHAVIOURS:
            for poll_ms in (20, 100, 500):
                mine = [r for r in runs if r.behaviour == behaviour and r.poll_ms == poll_ms and r.activity == activity]
                if not mine:
                    continue
                counts = [sum(r.verdict.get(k, 0) for r in mine)
                          for k in ("presses", "reported", "merged", "unseen", "lost", "invented")]
                totals = [a + b for a, b in zip(totals, counts)]
                longest = max([r.longest_poll_ms for r in mine if r.longest_poll_ms is not None] or [float("nan")])
                print("%-9s %-16s %3d ms %8d %9d %7d %6d %5d %9d %5.1f ms  %s" % (
                    behaviour, activity or "still", poll_ms, *counts, longest, editions_of(mine)))
    print("%-9s %-16s %6s %8d %9d %7d %6d %5d %9d" % ("all", "", "", *totals))
    print("(cdc-cts: the key on CTS behind an adapter that reports no CTS: nothing may be reported, "
          "so its presses are neither reported nor lost; unseen: a press no wait thread of the driver was shown "
          "and no status read saw, one pressed and released while no wait was pending, between two reads; "
          "longest: the longest ZelbinIsZBToggle call)")


def bench_table(runs):
    print("\nLatency from a press to the end of the poll that reports it, ms, and the longest poll"
          " (ZelbinIsZBToggle's call):")
    print("%-9s %6s %7s %8s %8s %8s %8s  %s" % ("behaviour", "poll", "presses", "p50", "p99", "max", "longest",
                                                "editions"))
    for behaviour in BEHAVIOURS:
        for poll_ms in (20, 100, 500):
            mine = [r for r in runs if r.behaviour == behaviour and r.poll_ms == poll_ms and not r.quiet]
            values = [v for r in mine for v in r.latencies]
            longest = max([r.longest_poll_ms for r in mine if r.longest_poll_ms is not None] or [float("nan")])
            if values:
                print("%-9s %3d ms %7d %8.1f %8.1f %8.1f %8.1f  %s" % (
                    behaviour, poll_ms, len(values), percentile(values, 0.5), percentile(values, 0.99), max(values),
                    longest, editions_of(mine)))
    print("\nThe io.dll's own device calls per quiet poll (polls every 20 ms, no press, from 0.5 s on):")
    for run in runs:
        if run.quiet and run.quiet_calls:
            print("  %-8s %s  %s" % (run.behaviour, run.edition.arch, run.quiet_calls))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=("check", "soak", "bench"))
    parser.add_argument("--edition", action="append", required=True, metavar="ARCH=BUILD_DIR")
    parser.add_argument("--seed", type=int)
    parser.add_argument("--lanes", type=int, default=None)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    editions = []
    for text in args.edition:
        arch, _, build = text.partition("=")
        if arch not in ("x86", "x64") or not build:
            parser.error("--edition takes x86=BUILD_DIR or x64=BUILD_DIR, not '%s'" % text)
        editions.append(Edition(arch, build))
    if args.lanes is not None and not 1 <= args.lanes <= 8:
        parser.error("--lanes takes 1 to 8")
    if not 0.001 <= args.scale <= 10:
        parser.error("--scale takes 0.001 to 10")

    usable = []
    for edition in editions:
        why = edition.unusable()
        if why:
            print("%s: not run: %s" % (edition.arch, why))
        else:
            usable.append(edition)
    if not usable:
        print("SKIPPED: no edition can run over the scripted device here: %s" % "; ".join(
            "%s: %s" % (e.arch, e.unusable()) for e in editions))
        return 77
    for edition in usable:
        prepared = subprocess.run([os.path.join(SCRIPTS, "wine-prefix.sh"), edition.prefix],
                                  env=dict(os.environ, ZELBIN_ARCH=edition.arch), capture_output=True, text=True)
        if prepared.returncode != 0:
            print("the Wine prefix %s can't be used:\n%s" % (edition.prefix, prepared.stderr))
            return 1

    seed = args.seed if args.seed is not None else random.randrange(10 ** 9)
    print("Seed %d (scripted-runs.py %s --seed %d makes the same scripts); editions %s" % (
        seed, args.mode, seed, ", ".join(e.arch for e in usable)), flush=True)
    runs = [r for r in plan(args.mode, usable, random.Random(seed), args.scale) if args.only in r.name]
    if not runs:
        print("no run's name holds '%s'" % args.only)
        return 2
    work = os.path.join(usable[0].build, "scripted-device", args.mode)
    lanes = args.lanes or (2 if args.mode == "check" else 3)
    started = time.time()
    run_all(runs, lanes, work)
    print("%d runs in %.0f s" % (len(runs), time.time() - started))
    if args.mode == "soak":
        soak_table(runs)
    elif args.mode == "bench":
        bench_table(runs)
    failed = [r for r in runs if r.failed]
    if failed:
        print("\nFailed: %s (records in %s)" % (", ".join("%s/%s" % (r.edition.arch, r.name) for r in failed), work))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
