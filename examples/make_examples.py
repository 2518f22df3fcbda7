#!/usr/bin/env python3
"""Writes the bundled example pair: a 64 x 64 grey picture and a coarser copy of it."""
import math
import struct


def grey_bmp(path, width, height, level):
    stride = (width + 3) // 4 * 4
    palette = b"".join(bytes((i, i, i, 0)) for i in range(256))
    rows = b"".join(
        bytes(level(x, y) for x in range(width)) + bytes(stride - width)
        for y in reversed(range(height)))
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as out:
        out.write(header + info + palette + rows)


def picture(x, y):
    rings = 0.5 + 0.5 * math.cos(math.hypot(x - 24, y - 40) / 3.0)
    return round(40 + 150 * rings * (x + y) / 126 + 60 * (x // 16 % 2))


grey_bmp("original.bmp", 64, 64, picture)
# The copy keeps only 8 grey levels, as a harsh codec would.
grey_bmp("coarse.bmp", 64, 64, lambda x, y: picture(x, y) // 32 * 32 + 16)
