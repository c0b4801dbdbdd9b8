#!/usr/bin/env python3
"""Turns a screenshot the window driver saved (a 32-bit, top-down BMP) into
a PNG, and fails when the picture shows nothing: fewer than MIN_COLOURS
colours, or one colour over nearly all of it.

Usage: bmp-to-png.py IN.bmp OUT.png [MIN_COLOURS]"""

import collections
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit("%s: not a BMP" % path)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 32:
        raise SystemExit("%s: %d bits a pixel, not 32" % (path, bits))
    rows = [data[offset + y * width * 4: offset + (y + 1) * width * 4] for y in range(abs(height))]
    if height > 0:
        rows.reverse()  # bottom-up
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for x in range(width):
            b, g, r = row[4 * x], row[4 * x + 1], row[4 * x + 2]
            raw += bytes((r, g, b))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


def main():
    source, target = sys.argv[1], sys.argv[2]
    least = int(sys.argv[3]) if len(sys.argv) > 3 else 8
    width, height, rows = read_bmp(source)
    colours = collections.Counter(row[4 * x: 4 * x + 3] for row in rows for x in range(width))
    write_png(target, width, height, rows)
    commonest = colours.most_common(1)[0][1] / float(width * height) if colours else 1.0
    print("%s: %dx%d, %d colours, the commonest on %.0f %% of it" % (target, width, height, len(colours),
                                                                     100 * commonest))
    if len(colours) < least or commonest > 0.97:
        print("the window shows nothing")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
