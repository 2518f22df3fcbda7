#!/usr/bin/env python3
"""Writes the comparison fuzzer's seeds, fuzz/seeds/pairs/*.pair: two files with the fuzzer's
separator line (fuzz/compare_fuzzer.cpp) between them, each pair named for what it holds. Most
are files of the test data; pairs of 3 x 2 blocks score differently block by block. Two PNG
files of 512 x 512 pixels, tiled with the levels of test pictures, are large enough for the engine
to decode the second on a thread of its own (from 2^18 pixels), yet a few kilobytes each."""

import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE.parent / "tests" / "data"
SEPARATOR = b"\n--likeness-second-file--\n"

PAIRS = {
    "bmp-8bit-against-bmp-8bit": ("crafted/blocks-first.bmp", "crafted/blocks-second.bmp"),
    "png-against-bmp": ("written/blocks-first.png", "crafted/blocks-second.bmp"),
    "jpeg-against-pgm": ("written/im-grey-blocks-first.jpg", "written/blocks-second.pgm"),
    "bmp-24bit-grey-against-png-8bit": ("crafted/blocks-first-24bit.bmp",
                                        "written/blocks-first.png"),
    "png-24bit-grey-against-pgm": ("written/im-rgb-blocks-first.png", "written/blocks-second.pgm"),
    # 16 x 16: decoded whole (interlaced) against progressive.
    "png-interlaced-against-jpeg-progressive": ("written/im-interlaced-grey16x16.png",
                                                "written/cjpeg-progressive-grey16x16.jpg"),
    # Grey against colour of the same size, and colour against grey of another size: the
    # verdict's order.
    "png-grey-against-bmp-colour": ("written/ffmpeg-grey16x16.png", "crafted/colour16x16.bmp"),
    "bmp-colour-against-pgm-other-size": ("written/im-colour10x6.bmp", "written/grey16x16.pgm"),
}


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def tiled_png(pgm, side):
    """A side x side grey PNG tiled with the levels of a binary PGM whose header has a field a
    line, as the test data's PGM files have."""
    _, sides, _, levels = (DATA / pgm).read_bytes().split(b"\n", 3)
    width, height = map(int, sides.split())
    rows = b"".join(b"\0" + bytes(levels[y % height * width + x % width] for x in range(side))
                    for y in range(side))
    header = struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def main():
    pairs = {name: ((DATA / first).read_bytes(), (DATA / second).read_bytes())
             for name, (first, second) in PAIRS.items()}
    pairs["png-512-tiled-against-png-512-tiled"] = (tiled_png("written/blocks-second.pgm", 512),
                                                    tiled_png("written/grey16x16.pgm", 512))
    folder = HERE / "seeds" / "pairs"
    folder.mkdir(parents=True, exist_ok=True)
    for name, (first, second) in pairs.items():
        (folder / f"{name}.pair").write_bytes(first + SEPARATOR + second)


main()
