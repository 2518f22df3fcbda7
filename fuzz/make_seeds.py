#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: small valid files of every layout the reader accepts."""
import struct


def bmp(path, width, height, bits, core=False, colours_used=0, palette_entries=None):
    entry_bytes = 3 if core else 4
    if palette_entries is None:
        palette_entries = colours_used or (256 if bits == 8 else 0)
    palette = b"".join(bytes((i, i * 3 % 256, i * 7 % 256, 0)[:entry_bytes])
                       for i in range(palette_entries))
    row_bytes = width * bits // 8
    stride = (row_bytes + 3) // 4 * 4
    rows = b"".join(bytes((x * 5 + y * 17) % 256 for x in range(row_bytes)) + bytes(stride - row_bytes)
                    for y in range(height))
    if core:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, 0, 2835, 2835,
                           colours_used, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    with open(path, "wb") as out:
        out.write(header + info + palette + rows)


bmp("grey8x8.bmp", 8, 8, 8)
bmp("grey3x2.bmp", 3, 2, 8)
bmp("grey16-colours.bmp", 5, 3, 8, colours_used=16)
bmp("core8.bmp", 6, 2, 8, core=True)
bmp("colour5x2.bmp", 5, 2, 24)
bmp("core24.bmp", 2, 3, 24, core=True)
bmp("colour-with-palette.bmp", 3, 3, 24, colours_used=2)
