#!/usr/bin/env python3
"""The VB.NET declarations a document shows (its ```vb block) say what the
C# class's do: each of the five exports bound by its undecorated name in
Zelbin_Serial.dll, stdcall, with ExactSpelling, one-byte booleans both
ways, and an 8-bit text without best-fit mapping; a Function where the
export answers, a Sub where it doesn't. Read as text: Debian has no VB.NET
compiler (the C# class's declarations are compiled and read back by
monodis in check-csharp-kit.sh).

Usage: check-vb-declarations.py DOCUMENT...
"""
import os
import re
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "release"))
from checks import check, summary  # noqa: E402

BOOL_RESULT = r"Function \w+\(\) As <MarshalAs\(UnmanagedType\.U1\)> Boolean$"
# export: (what its attribute must hold besides the common part, its declaration)
EXPORTS = {
    "ZelbinIsCustom": ([], BOOL_RESULT),
    "ZelbinSetToggled": ([], r"Sub \w+\(<MarshalAs\(UnmanagedType\.U1\)> \w+ As Boolean\)$"),
    "ZelbinIsZBToggle": ([], BOOL_RESULT),
    "ZelbinStopListen": ([], r"Sub \w+\(\)$"),
    "ZelbinStartListen": (["CharSet:=CharSet.Ansi", "BestFitMapping:=False", "ThrowOnUnmappableChar:=True"],
                          r"Sub \w+\(<MarshalAs\(UnmanagedType\.LPStr\)> \w+ As String\)$"),
}
COMMON = ['"Zelbin_Serial.dll"', "CallingConvention:=CallingConvention.StdCall", "ExactSpelling:=True"]


def declarations(block):
    """Each DllImport attribute with the declaration line after it."""
    lines = [line.strip() for line in block.splitlines()]
    for number, line in enumerate(lines):
        if line.startswith("<DllImport(") and number + 1 < len(lines):
            yield line, lines[number + 1]


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: check-vb-declarations.py DOCUMENT...")
    for path in sys.argv[1:]:
        name = os.path.basename(path)
        with open(path, encoding="utf-8") as file:
            blocks = re.findall(r"^ *```vb\n(.*?)^ *```$", file.read(), re.S | re.M)
        check(f"{name} shows VB.NET declarations", len(blocks) == 1, f"{len(blocks)} ```vb blocks")
        found = {}
        for attribute, declaration in declarations("".join(blocks)):
            entry = re.search(r'EntryPoint:="(\w+)"', attribute)
            found.setdefault(entry.group(1) if entry else "no EntryPoint", []).append((attribute, declaration))
        check(f"{name}: exactly the five exports, once each", sorted(found) == sorted(EXPORTS)
              and all(len(each) == 1 for each in found.values()), sorted(found))
        for export, (extra, shape) in EXPORTS.items():
            for attribute, declaration in found.get(export, []):
                missing = [item for item in COMMON + extra if item not in attribute]
                check(f"{name}: {export} stdcall by its undecorated name, {declaration}",
                      not missing and re.search(shape, declaration),
                      f"lacks {missing}" if missing else f"not /{shape}/")
    return summary()


if __name__ == "__main__":
    sys.exit(main())
