#!/usr/bin/env python3
"""One table of load faults for every host kit: what a kit's message for
each fault must say, in facts rather than words. Reads the lines a kit's
harness prints, tab-separated:

    FAULT  DLL-PATH  IO-PATH  ARCH  MESSAGE

FAULT is one of the table's, optionally with "/label" (the same fault
driven another way); DLL-PATH and IO-PATH are the files as the kit names
them; ARCH the architecture of the process or project (x86 or x64). The
message must name the file at fault, and not the other one; both
architectures for a file of the other one, and not the other architecture
for a missing file (a path's own folder names aside). Every fault of the
table must be there. A line whose FAULT is "loads/..." is a layout that
must load: its MESSAGE must be "loaded".

Usage: check-load-faults.py KIT <lines
"""
import os
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release"))
from checks import check, summary  # noqa: E402

# fault: (the file named, whether both architectures are named)
FAULTS = {
    "missing-dll": ("dll", False),
    "missing-io": ("io", False),
    "wrong-dll": ("dll", True),
    "wrong-io": ("io", True),
}
OTHER = {"x86": "x64", "x64": "x86"}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check-load-faults.py KIT <lines")
    kit = sys.argv[1]
    seen = set()
    for line in sys.stdin.read().replace("\r", "").splitlines():
        fields = line.split("\t")
        if not line.strip():
            continue
        if len(fields) != 5:
            print(f"     {line}")
            continue
        label, dll, io, arch, message = fields
        fault = label.split("/")[0]
        if fault == "loads":
            check(f"{kit}, {label} ({arch}): {dll} loads", message == "loaded", message)
            continue
        if fault not in FAULTS or arch not in OTHER:
            check(f"{kit}: a fault of the table ({label}, {arch})", False, line)
            continue
        seen.add(fault)
        culprit, both = FAULTS[fault]
        named, other = (dll, io) if culprit == "dll" else (io, dll)
        # The architectures a message states, not those a path happens to hold.
        words = message.replace(named, " ").replace(other, " ")
        wants = [f"names {named}"]
        ok = named in message
        if culprit == "dll":
            wants.append("not its io.dll")
            ok = ok and io not in message
        if both:
            wants.append(f"{arch} and {OTHER[arch]}")
            ok = ok and arch in words and OTHER[arch] in words
        else:
            wants.append(f"no {OTHER[arch]}")
            ok = ok and OTHER[arch] not in words
        check(f"{kit}, {label} ({arch}): {', '.join(wants)}", ok, message)
    for fault in FAULTS:
        if fault not in seen:
            check(f"{kit}: {fault} is told", False, "no line for it")
    return summary()


if __name__ == "__main__":
    sys.exit(main())
