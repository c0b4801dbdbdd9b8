#!/usr/bin/env python3
"""Reads each shipped PE file with an independent PE reader and checks the
hardening a careful Windows engineer's binary checker looks for:

- DYNAMIC_BASE (relocatable, so ASLR moves it) with a relocation table to
  make it real, and NX_COMPAT (data pages not executable);
- NO_SEH, and no code that registers an SEH frame handler (a write to
  fs:[0]), which is what makes NO_SEH true;
- the stack protector compiled in: the guard (from FILE.debug's symbols)
  read by the code more than once, and no compiler runtime DLL (libssp-0,
  libgcc, libstdc++, libwinpthread) imported, nor ADVAPI32.dll's random
  number or crypto provider calls (the compiler runtime's way of seeding
  the guard; its registry calls are the tools' own and may be imported);
- no section both writable and executable.

Usage: check-hardening.py [--nm NM] FILE...
Without --nm (or without FILE.debug) the stack protector is judged by the
imports alone. Prints 'N passed, N failed'; exits non-zero on any failure."""

import os
import struct
import subprocess
import sys

import pefile

DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
NO_SEH = 0x0400
SCN_EXECUTE = 0x20000000
SCN_WRITE = 0x80000000
FORBIDDEN_IMPORT_PREFIXES = ("libssp", "libgcc", "libstdc++", "libwinpthread")
# What the compiler runtime would seed the guard with, from ADVAPI32.dll.
FORBIDDEN_ADVAPI32 = ("SystemFunction036", "CryptAcquireContextA", "CryptAcquireContextW", "CryptGenRandom",
                      "CryptReleaseContext")

# Writes to fs:[0], the head of the thread's SEH frame chain: "mov fs:[0], eax"
# and "mov fs:[0], r32" with a 32-bit displacement of zero.
SEH_REGISTRATIONS = [b"\x64\xa3\x00\x00\x00\x00"] + [
    b"\x64\x89" + bytes([0x05 | (reg << 3)]) + b"\x00\x00\x00\x00" for reg in range(8)]


def guard_address(nm, path):
    """The virtual address of __stack_chk_guard from the split symbols, or None."""
    debug = path + ".debug"
    if not nm or not os.path.exists(debug):
        return None
    listing = subprocess.run([nm, debug], capture_output=True, text=True, check=True).stdout
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] == "___stack_chk_guard":
            return int(fields[0], 16)
    return 0


def problems_of(path, nm):
    pe = pefile.PE(path)
    found = []
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for bit, name in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"), (NO_SEH, "NO_SEH")):
        if not flags & bit:
            found.append("%s is not set" % name)
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if flags & DYNAMIC_BASE and relocations.Size == 0:
        found.append("DYNAMIC_BASE without a relocation table: the image can't move")

    code = b""
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode(errors="replace")
        if section.Characteristics & SCN_EXECUTE and section.Characteristics & SCN_WRITE:
            found.append("section %s is both writable and executable" % name)
        if section.Characteristics & SCN_EXECUTE:
            code += section.get_data()
    for pattern in SEH_REGISTRATIONS:
        if pattern in code:
            found.append("the code registers an SEH frame handler (writes fs:[0]), so NO_SEH is not true")
            break

    imports = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode()
        if dll.lower().startswith(FORBIDDEN_IMPORT_PREFIXES):
            found.append("imports %s" % dll)
        if dll.lower() == "advapi32.dll":
            for imp in entry.imports:
                if imp.name and imp.name.decode() in FORBIDDEN_ADVAPI32:
                    found.append("imports %s!%s, the compiler runtime's guard seeding" % (dll, imp.name.decode()))

    guard = guard_address(nm, path)
    if guard == 0:
        found.append("no __stack_chk_guard in its symbols: not built with the stack protector")
    elif guard is not None:
        uses = code.count(struct.pack("<I", guard))
        if uses < 2:
            found.append("the stack protector's guard is read %d times: no function is protected" % uses)
    return found, imports


def main():
    args = sys.argv[1:]
    nm = None
    if args[:1] == ["--nm"]:
        nm, args = args[1], args[2:]
    passed = failed = 0
    for path in args:
        name = os.path.basename(path)
        problems, imports = problems_of(path, nm)
        if problems:
            failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)))
        else:
            passed += 1
            print("ok   %s: DYNAMIC_BASE NX_COMPAT NO_SEH, stack protector, no W+X section; imports %s"
                  % (name, ", ".join(imports)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not args else 0


if __name__ == "__main__":
    sys.exit(main())
