#!/usr/bin/python3
"""The key testers' manifests, as Windows reads them from the programs: one
RT_MANIFEST resource with id 1, run as the invoker (no file
virtualization: a map written under Program Files without the rights is
refused, not silently redirected); every architecture it names the
program's own, from its PE header (an x86 Common Controls named by a 64-bit
program is mapped into it on a Windows with both sides, and the program
dies at start). The window's also asks for common controls 6 and
per-monitor DPI awareness (v2, then v1, then the older true/pm), and is a
GUI-subsystem program, so no console window opens; the console tester is
a console program.
Usage: check-window-manifest.py [--console] PROGRAM.exe..."""
import sys
import xml.etree.ElementTree as ET

import pefile

RT_MANIFEST = 24
ASM1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
WS2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WS2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
# A manifest's processorArchitecture for each PE machine field.
ARCHITECTURES = {0x014C: "x86", 0x8664: "amd64"}


def manifests(pe):
    found = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != RT_MANIFEST:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found.append((name.id, pe.get_data(data.OffsetToData, data.Size)))
    return found


def problems_of(path, console):
    pe = pefile.PE(path)
    problems = []
    subsystem = "IMAGE_SUBSYSTEM_WINDOWS_CUI" if console else "IMAGE_SUBSYSTEM_WINDOWS_GUI"
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE[subsystem]:
        problems.append("not a console program" if console else
                        "not a GUI-subsystem program: a console window would open")
    found = manifests(pe)
    if [name for name, _ in found] != [1]:
        return problems + ["expected one manifest with id 1, found ids %s" % [name for name, _ in found]]
    root = ET.fromstring(found[0][1])
    level = [e.get("level") for e in root.iter(ASM3 + "requestedExecutionLevel")]
    if level != ["asInvoker"]:
        problems.append("the execution level is %s, not asInvoker" % level)
    own = ARCHITECTURES.get(pe.FILE_HEADER.Machine, "machine %#x" % pe.FILE_HEADER.Machine)
    for identity in root.iter(ASM1 + "assemblyIdentity"):
        named = identity.get("processorArchitecture")
        if named is None or named.lower() != own:
            problems.append("%s names processorArchitecture %s, but the program is %s" %
                            (identity.get("name"), named, own))
    if console:
        return problems
    controls = [a for a in root.iter(ASM1 + "assemblyIdentity")
                if a.get("name") == "Microsoft.Windows.Common-Controls"]
    if not controls or controls[0].get("version") != "6.0.0.0":
        problems.append("no dependency on common controls 6.0.0.0")
    awareness = [e.text.strip() for e in root.iter(WS2016 + "dpiAwareness")]
    if not awareness or [v.strip() for v in awareness[0].split(",")] != ["PerMonitorV2", "PerMonitor"]:
        problems.append("dpiAwareness is %s, not 'PerMonitorV2, PerMonitor'" % awareness)
    aware = [e.text.strip().lower() for e in root.iter(WS2005 + "dpiAware")]
    if aware != ["true/pm"]:
        problems.append("dpiAware is %s, not true/pm" % aware)
    return problems


def main():
    console = "--console" in sys.argv[1:]
    paths = [a for a in sys.argv[1:] if a != "--console"]
    failed = 0
    for path in paths:
        problems = problems_of(path, console)
        for problem in problems:
            print("FAIL %s: %s" % (path, problem))
        if not problems:
            print("ok   %s: %s" % (path, "run as the invoker, its own architecture, console subsystem" if console else
                                   "common controls 6 of its own architecture, per-monitor DPI v2 with fallbacks, "
                                   "run as the invoker, GUI subsystem"))
        failed += bool(problems)
    print("%d passed, %d failed" % (len(paths) - failed, failed))
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main())
