#!/usr/bin/env python3
"""Reads the version resource of each shipped binary with an independent PE
reader and checks it names the file, the product and the version.

Usage: check-version-info.py VERSION FILE...
Prints 'N passed, N failed'; exits non-zero on any failure."""

import os
import sys

import pefile


def strings_of(path):
    pe = pefile.PE(path)
    found = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                found.update({k.decode(): v.decode() for k, v in table.entries.items()})
    fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    return found, fixed


def main():
    version, files = sys.argv[1], sys.argv[2:]
    major, minor, patch = (int(part) for part in version.split("."))
    passed = failed = 0
    for path in files:
        name = os.path.basename(path)
        found, fixed = strings_of(path)
        problems = []
        for key, want in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Zelbin_Serial"),
                          ("OriginalFilename", name)):
            if found.get(key) != want:
                problems.append("%s is %r, not %r" % (key, found.get(key), want))
        for key in ("FileDescription", "LegalCopyright"):
            if not found.get(key):
                problems.append("no " + key)
        if "CompanyName" in found:
            problems.append("names a company")
        if fixed is None or (fixed.FileVersionMS, fixed.FileVersionLS) != (major << 16 | minor, patch << 16):
            problems.append("the fixed file version is not %s.0" % version)
        if problems:
            failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)))
        else:
            passed += 1
            print("ok   %s: %s %s, %r" % (name, found["ProductName"], found["FileVersion"], found["FileDescription"]))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not files else 0


if __name__ == "__main__":
    sys.exit(main())
