#!/usr/bin/env python3
"""The last step of a shipped binary's build, once its symbols are split off.

Ready to sign: an Authenticode signature is appended at an 8-byte boundary
and the PE checksum is rewritten with it, and removing the signature keeps
both. So the file is padded to that boundary and given the right checksum
here already: signing and removing the signature again then give back these
very bytes.

And a record of what the linker took from outside the project, read from its
map (the compiler's runtime, the MinGW-w64 start-up code and runtime), with
the Debian package each file comes from and its version, for the release's
bill of materials. The record names the finished binary's SHA-256, by which
the release pairs it with the file it ships.

Usage: finish-shipped-binary.py BINARY LINKER_MAP RECORD
"""
import array
import hashlib
import json
import os
import re
import struct
import subprocess
import sys

SIGNATURE_ALIGNMENT = 8


def pe_checksum_offset(data):
    if data[:2] != b"MZ":
        raise ValueError("not a PE image (no MZ header)")
    header = struct.unpack_from("<I", data, 0x3C)[0]
    if data[header:header + 4] != b"PE\0\0":
        raise ValueError("not a PE image (no PE signature)")
    # The checksum sits 64 bytes into the optional header, for PE32 and PE32+ alike.
    return header + 24 + 64


def pe_checksum(data, offset):
    """The PE checksum: the 16-bit words of the file, the checksum field left
    out, added with end-around carry, plus the file's length."""
    words = array.array("H", data[:len(data) & ~1])
    if sys.byteorder != "little":
        words.byteswap()
    total = sum(words) - words[offset // 2] - words[offset // 2 + 1]
    if len(data) & 1:
        total += data[-1]
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def make_ready_to_sign(path):
    with open(path, "rb") as file:
        data = bytearray(file.read())
    data += b"\0" * (-len(data) % SIGNATURE_ALIGNMENT)
    offset = pe_checksum_offset(data)
    struct.pack_into("<I", data, offset, pe_checksum(data, offset))
    with open(path, "wb") as file:
        file.write(data)
    return bytes(data)


def linked_files(map_path):
    """The files outside the project that the linker took code from: the
    archives it took members of, and the object files it loaded whole."""
    taken = set()
    loaded = set()
    with open(map_path, encoding="utf-8", errors="replace") as lines:
        in_members = False
        for line in lines:
            line = line.rstrip("\n")
            if line.startswith("Archive member included"):
                in_members = True
                continue
            if in_members and re.match(r"(Discarded input sections|Allocating common symbols|Memory Configuration)", line):
                in_members = False
            if in_members:
                member = re.match(r"(\S[^(]*)\([^()]*\)", line)
                if member:
                    taken.add(member.group(1))
            load = re.match(r"LOAD (\S.*)$", line)
            if load and load.group(1).endswith(".o"):
                loaded.add(load.group(1))
    # Relative paths are the build's own; a link-time optimiser's output is
    # the project's code, compiled late.
    return sorted({os.path.normpath(path) for path in taken | loaded
                   if os.path.isabs(path) and ".ltrans" not in os.path.basename(path)})


def package_of(path):
    answer = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if answer.returncode != 0:
        real = os.path.realpath(path)
        answer = subprocess.run(["dpkg-query", "-S", real], capture_output=True, text=True)
    if answer.returncode != 0:
        sys.exit(f"finish-shipped-binary.py: {path} is linked in, and no Debian package holds it "
                 "(the release's bill of materials names each such file's package)")
    # "package: path" or "package:arch: path"; a diversion line starts with "diversion".
    owner = next(line for line in answer.stdout.splitlines() if not line.startswith("diversion"))
    package = owner.split(": ", 1)[0].split(",")[0].strip()
    fields = subprocess.run(
        ["dpkg-query", "-W", "-f", "${Package}\t${Version}\t${Architecture}\t${source:Package}", package],
        capture_output=True, text=True, check=True).stdout.split("\t")
    return {"file": path, "package": fields[0].split(":")[0], "version": fields[1], "architecture": fields[2],
            "source": fields[3]}


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: finish-shipped-binary.py BINARY LINKER_MAP RECORD")
    binary, map_path, record_path = sys.argv[1:]
    data = make_ready_to_sign(binary)
    record = {
        "binary": os.path.basename(binary),
        "sha256": hashlib.sha256(data).hexdigest(),
        "linked": [package_of(path) for path in linked_files(map_path)],
    }
    with open(record_path, "w", encoding="utf-8") as out:
        json.dump(record, out, indent=2, sort_keys=True)
        out.write("\n")


if __name__ == "__main__":
    main()
