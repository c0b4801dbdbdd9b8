#!/usr/bin/env python3
"""Reads each shipped PE file with an independent PE reader and checks the
hardening a careful Windows engineer's binary checker looks for:

- DYNAMIC_BASE (relocatable, so ASLR moves it) with a relocation table to
  make it real, and NX_COMPAT (data pages not executable);
- on x86: NO_SEH, and no code that registers an SEH frame handler (a write
  to fs:[0]), which is what makes NO_SEH true;
- on x64: HIGH_ENTROPY_VA (addresses from the whole 64-bit space), and the
  unwind tables (the exception directory) by which x64 code is unwound;
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
HIGH_ENTROPY_VA = 0x0020
MACHINE_X64 = 0x8664
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


def guard_addresses(nm, path):
    """The virtual addresses through which code reads __stack_chk_guard, from
    the split symbols: the guard itself (x86, whose C symbols carry a
    leading underscore) and, on x64, the pointer to it that code loads.
    None without the symbols; empty if there is no guard."""
    debug = path + ".debug"
    if not nm or not os.path.exists(debug):
        return None
    listing = subprocess.run([nm, debug], capture_output=True, text=True, check=True).stdout
    found = set()
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] in ("___stack_chk_guard", "__stack_chk_guard",
                                              ".refptr.__stack_chk_guard"):
            found.add(int(fields[0], 16))
    return found


def reads_of(pe, code_sections, addresses):
    """How often the code reads one of the addresses: as a 32-bit absolute
    address on x86, as a RIP-relative displacement (to the end of the
    displacement, as a load has it) on x64."""
    if pe.FILE_HEADER.Machine != MACHINE_X64:
        code = b"".join(data for _, data in code_sections)
        return sum(code.count(struct.pack("<I", a)) for a in addresses)
    count = 0
    for start, data in code_sections:
        for offset in range(len(data) - 3):
            (disp,) = struct.unpack_from("<i", data, offset)
            if start + offset + 4 + disp in addresses:
                count += 1
    return count


def problems_of(path, nm):
    pe = pefile.PE(path)
    found = []
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    x64 = pe.FILE_HEADER.Machine == MACHINE_X64
    wanted = [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT")]
    wanted.append((HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA") if x64 else (NO_SEH, "NO_SEH"))
    for bit, name in wanted:
        if not flags & bit:
            found.append("%s is not set" % name)
    unwind = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXCEPTION"]]
    if x64 and unwind.Size == 0:
        found.append("no unwind tables (exception directory)")
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if flags & DYNAMIC_BASE and relocations.Size == 0:
        found.append("DYNAMIC_BASE without a relocation table: the image can't move")

    code_sections = []
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode(errors="replace")
        if section.Characteristics & SCN_EXECUTE and section.Characteristics & SCN_WRITE:
            found.append("section %s is both writable and executable" % name)
        if section.Characteristics & SCN_EXECUTE:
            code_sections.append((pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress, section.get_data()))
    code = b"".join(data for _, data in code_sections)
    for pattern in SEH_REGISTRATIONS if not x64 else []:
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

    guard = guard_addresses(nm, path)
    if guard is not None and not guard:
        found.append("no __stack_chk_guard in its symbols: not built with the stack protector")
    elif guard is not None:
        uses = reads_of(pe, code_sections, guard)
        if uses < 2:
            found.append("the stack protector's guard is read %d times: no function is protected" % uses)
    return found, imports, "HIGH_ENTROPY_VA, unwind tables" if x64 else "NO_SEH"


def main():
    args = sys.argv[1:]
    nm = None
    if args[:1] == ["--nm"]:
        nm, args = args[1], args[2:]
    passed = failed = 0
    for path in args:
        name = os.path.basename(path)
        problems, imports, flags = problems_of(path, nm)
        if problems:
            failed += 1
            print("FAIL %s: %s" % (name, "; ".join(problems)))
        else:
            passed += 1
            print("ok   %s: DYNAMIC_BASE NX_COMPAT %s, stack protector, no W+X section; imports %s"
                  % (name, flags, ", ".join(imports)))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not args else 0


if __name__ == "__main__":
    sys.exit(main())
