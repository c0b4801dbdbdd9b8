#!/usr/bin/env python3
"""What each shipped binary brings into a process: the DLLs it imports
(read with pefile, delay-loaded ones too) must all be on its list, and the
key library and the comm-port io.dll must stay within their sizes and carry
no thread-local storage directory. With --report, the sizes and
imports are printed and nothing is judged (make bench).

A DLL on no list is a new dependency for every host: SETUPAPI.dll, for
one, is loaded by the comm-port io.dll at its first port list, never
imported.

Usage: check-imports.py [--report] ROLE=PATH...
ROLE: library, commio, standin, keytest, keytest-gui, virtualkey.
Prints 'N passed, N failed'; exits non-zero on any failure."""

import os
import sys

import pefile

# Each role's file name and the DLLs it may import, lower-cased.
SYSTEM = {"kernel32.dll", "msvcrt.dll"}
ALLOWED = {
    "library": ("Zelbin_Serial.dll", SYSTEM | {"io.dll"}),
    "commio": ("io.dll", SYSTEM | {"advapi32.dll"}),
    "standin": ("io.dll", SYSTEM),
    "keytest": ("zelbin-keytest.exe", SYSTEM | {"advapi32.dll", "version.dll", "winmm.dll"}),
    # The window runs the console's preflight, which reads the DLLs' file
    # versions: VERSION.dll, as for the console.
    "keytest-gui": ("zelbin-keytest-gui.exe", SYSTEM | {"advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll",
                                                        "user32.dll", "version.dll", "winmm.dll"}),
    "virtualkey": ("zelbin-virtualkey.exe", SYSTEM),
}
# Bytes, the same for both editions: a host loads the library, and the
# io.dll with it, beside its own code; the library is a few hundred lines of
# logic, the io.dll a few thousand, and neither links the C++ runtime.
SIZE_LIMIT = {"library": 40 * 1024, "commio": 96 * 1024}
# Neither keeps thread-local data, so neither carries a TLS directory: a
# loader sets one up for every running thread at each load, and Wine's
# faults doing so while its serial driver's wait thread ends.
NO_TLS = {"library", "commio"}
DESCRIPTION = {"library": "the key library", "commio": "the comm-port io.dll", "standin": "the stand-in io.dll",
               "keytest": "the key tester", "keytest-gui": "the key tester's window",
               "virtualkey": "the virtual key"}


def imports_of(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    plain = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    return plain, delayed


def has_tls_directory(path):
    pe = pefile.PE(path, fast_load=True)
    tls = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_TLS"]]
    return tls.VirtualAddress != 0 or tls.Size != 0


def main():
    args = sys.argv[1:]
    report = args[:1] == ["--report"]
    args = args[1:] if report else args
    binaries = []
    for arg in args:
        role, _, path = arg.partition("=")
        if role not in ALLOWED or not path:
            sys.exit("usage: check-imports.py [--report] ROLE=PATH... (ROLE: %s)" % ", ".join(ALLOWED))
        binaries.append((role, path))
    if not binaries:
        sys.exit("usage: check-imports.py [--report] ROLE=PATH...")
    passed = failed = 0
    for role, path in binaries:
        name, allowed = ALLOWED[role]
        size = os.path.getsize(path)
        plain, delayed = imports_of(path)
        imported = ", ".join(plain + ["%s (delay-loaded)" % dll for dll in delayed])
        if report:
            print("  %-24s %-26s %9s bytes  imports %s" % (DESCRIPTION[role], name, "{:,}".format(size), imported))
            continue
        problems = ["imports %s, not on its list" % dll for dll in plain + delayed if dll.lower() not in allowed]
        if role in NO_TLS and has_tls_directory(path):
            problems.append("carries a thread-local storage directory")
        if role in SIZE_LIMIT and size > SIZE_LIMIT[role]:
            problems.append("%d bytes, over its %d" % (size, SIZE_LIMIT[role]))
        if os.path.basename(path).lower() != name.lower():
            problems.append("is not named %s" % name)
        if problems:
            failed += 1
            print("FAIL %s %s: %s" % (DESCRIPTION[role], name, "; ".join(problems)))
        else:
            passed += 1
            limit = " (at most %d)" % SIZE_LIMIT[role] if role in SIZE_LIMIT else ""
            print("ok   %s %s: %d bytes%s; imports %s" % (DESCRIPTION[role], name, size, limit, imported))
    if not report:
        print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
