#!/usr/bin/env python3
"""Writes the crafted BMP files the tests read, each built field by field from the file layout
(independently of the project's writer, so that a fault shared by reader and writer cannot hide).
expected.txt next to this script says what reading each one must give."""
import struct
import zlib


def grey_palette(entry_bytes=4, count=256):
    return b"".join(bytes((i, i, i, 0)[:entry_bytes]) for i in range(count))


# Index i is grey level 255 - i: an index that is not mapped, or a 0 taken for index 0, shows.
INVERSE = b"".join(bytes((255 - i, 255 - i, 255 - i, 0)) for i in range(256))


def bmp(width, height, bits=8, header=40, compression=0, colours=0, palette=None, rows=b"",
        offset=None, size=None, resolution=2835):
    """A file built field by field; 8-bit files get a grey palette unless given another."""
    if palette is None:
        palette = grey_palette(3 if header == 12 else 4) if bits == 8 else b""
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, 0, resolution,
                           resolution, colours, 0)
        info = struct.pack("<I", header) + info[4:] + b"\xab" * max(0, header - 40)
    start = 14 + len(info) + len(palette)
    head = struct.pack("<2sIHHI", b"BM", size or start + len(rows), 0, 0,
                       start if offset is None else offset)
    return head + info + palette + rows


def grey(width, height, levels):
    """An 8-bit grey file of the given levels, top row first; filler bytes are 0xEE."""
    stride = (width + 3) // 4 * 4
    rows = b"".join(bytes(levels[y * width:(y + 1) * width]) + b"\xee" * (stride - width)
                    for y in reversed(range(height)))
    return bmp(width, height, rows=rows)


def write(name, data):
    with open(name, "wb") as out:
        out.write(data)


# Layout rules of the reader.
write("grey2x2.bmp", grey(2, 2, [10, 20, 30, 40]))
write("filler3x2.bmp", bmp(3, 2, rows=bytes([4, 5, 6, 0xAA, 1, 2, 3, 0xBB])))
write("colour5x2.bmp", bmp(5, 2, bits=24, rows=b"".join(
    bytes(100 * r + 10 * x + c for x in range(5) for c in range(3)) + b"\xcc" for r in range(2))))
write("core3x2.bmp", bmp(3, 2, header=12, rows=bytes([1, 2, 3, 0, 4, 5, 6, 0])))
# An OS/2 file whose pixels start 3 bytes past its palette.
write("core-offset-gap.bmp", bmp(3, 2, header=12, offset=14 + 12 + 768 + 3,
                                 rows=b"\x63" * 3 + bytes([1, 2, 3, 0, 4, 5, 6, 0])))
write("colours16.bmp", bmp(4, 1, colours=16, palette=b"".join(bytes((0, 0, 10 * i, 0)) for i in range(16)),
                           rows=bytes([0, 15, 3, 16])))
write("colours300.bmp", bmp(4, 1, colours=300, palette=b"".join(bytes((0, 0, 255 - i % 256, 0)) for i in range(300)),
                            rows=bytes([0, 1, 255, 44])))
write("colours-negative.bmp", bmp(4, 1, colours=0x80000000, palette=b"", rows=bytes([0, 1, 2, 3])))
write("colours-huge.bmp", bmp(4, 1, colours=0x12345678, rows=bytes(4)))
# A grey palette but for its last entry, which must not pass for the identity.
write("palette-almost-grey.bmp", bmp(4, 1, palette=grey_palette()[:-4] + bytes((7, 7, 7, 0)),
                                     rows=bytes([255, 254, 0, 1])))
write("colour-palette2.bmp", bmp(1, 1, bits=24, colours=2, palette=b"\x55" * 8, rows=bytes([1, 2, 3, 0])))
# A wrong size field, an offset inside the palette and trailing bytes: the rows follow the palette.
moved = bytearray(grey(2, 2, [10, 20, 30, 40]))
moved[2:6] = struct.pack("<I", 1)
moved[10:14] = struct.pack("<I", 100)
write("offset-inside-palette.bmp", bytes(moved) + b"\x09\x09\x09")
# An offset past the palette: the bytes between are dropped. One past the file's end is a cut file.
write("offset-gap.bmp", bmp(2, 2, offset=1078 + 5,
                            rows=b"\x63" * 5 + bytes([30, 40, 0, 0, 10, 20, 0, 0])))
write("offset-past-end.bmp", bmp(2, 2, offset=0xFFFFFFFF, rows=bytes(8)))
write("top-down.bmp", bmp(4, -2, rows=bytes([1, 2, 3, 4, 5, 6, 7, 8])))
for header in (52, 56, 108, 124):
    write(f"header{header}.bmp", bmp(2, 2, header=header, palette=INVERSE, rows=bytes([3, 4, 0, 0, 1, 2, 0, 0])))

# Cut inside the rows: what was read is kept, the rest is 0.
write("cut-in-filler.bmp", bmp(3, 2, rows=bytes([4, 5, 6, 0xAA, 1, 2, 3])))
write("cut-mid-band.bmp", bmp(4, 3, palette=INVERSE, rows=bytes([1, 2, 3, 4, 5, 6])))
# The second pixel is cut after its blue and green: no red was read.
write("cut-mid-pixel.bmp", bmp(2, 1, bits=24, rows=bytes([1, 2, 3, 4, 5])))

# Run-length rows, bottom-up: runs, end of line, literals (odd ones padded), a move, end of bitmap.
# Pixels never written are index 0; pixels past the right edge or the top are dropped.
def rle(width, height, stream, bits=8):
    return bmp(width, height, bits=bits, compression=1, palette=INVERSE, rows=bytes(stream))


write("rle-escapes.bmp", rle(4, 3, [0, 3, 5, 6, 7, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1]))
write("rle-clipped.bmp", rle(4, 2, [6, 2, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 0, 4, 1, 2, 3, 4,
                                    0, 2, 2, 5, 3, 7, 0, 1]))
write("rle-no-end-mark.bmp", rle(4, 2, [4, 1, 0, 0, 4, 2]))
write("rle-cut.bmp", rle(4, 2, [4, 1, 0, 0, 2, 2]))
# A move past the right edge and up a row, then the cut: the rows moved over take index 0's level
# (255 here), the row above stays 0.
write("rle-cut-after-move.bmp", rle(4, 3, [2, 1, 0, 2, 9, 1]))
write("rle-bits24.bmp", rle(2, 2, [2, 1, 0, 1], bits=24))
write("rle-top-down.bmp", rle(2, -2, [2, 1, 0, 1]))
write("rle4-bits8.bmp", bmp(2, 2, compression=2, palette=INVERSE, rows=bytes([2, 1, 0, 1])))
write("empty-tall.bmp", bmp(0, 0x7FFFFFFF, bits=24))
# As wide as a side may be, and without rows: a band of its rows would take 51 GB, and no picture
# needs memory for rows it does not have.
write("empty-wide.bmp", bmp(0x7FFFFFFF, 0, bits=24))

# Refusals.
write("signature-ba.bmp", b"BA" + grey(2, 2, [10, 20, 30, 40])[2:])
write("one-byte.bmp", b"B")
write("empty.bmp", b"")
for header in (16, 64):
    write(f"header{header}.bmp", bmp(8, 8, header=header, rows=bytes(64)))
for bits in (1, 4, 16, 32):
    write(f"bits{bits}.bmp", bmp(8, 8, bits=bits, palette=grey_palette(4, 2), rows=bytes(256)))
write("rle-bits4.bmp", bmp(8, 8, bits=4, compression=2, palette=grey_palette(4, 16), rows=bytes(32)))

# Hostile sides: no image can hold them, or the data never comes.
write("core-65535.bmp", bmp(65535, 65535, bits=24, header=12, rows=bytes(64)))
write("huge-3000000x2000000.bmp", bmp(3000000, 2000000, bits=24, rows=bytes(64)))
write("height-min.bmp", bmp(8, -0x80000000, rows=bytes(64)))
write("width-negative.bmp", bmp(-8, 8, rows=bytes(64)))
write("width-max.bmp", bmp(0x7FFFFFFF, 2, bits=24, rows=bytes(64)))
write("large-little-data.bmp", bmp(40000, 40000, rows=bytes(100)))
# Run-length pixels need the whole picture's memory whatever the stream holds: past the default
# ceiling of 2^28 pixels they are refused.
write("rle-40000x40000.bmp", rle(40000, 40000, [0, 1]))

# Pairs for the command line.
write("grey8x8.bmp", grey(8, 8, [1] * 64))
write("black8x8.bmp", grey(8, 8, [0] * 64))
for width, height in ((16, 8), (8, 16), (12, 8), (8, 12), (0, 0), (8, 0)):
    write(f"grey{width}x{height}.bmp", grey(width, height, [0] * (width * height)))
# Grey but for one pixel, the last in memory (bottom right), whose red is 1: a colour picture.
write("colour16x16.bmp", bmp(16, 16, bits=24, rows=bytes(47) + b"\x01" + bytes(16 * 16 * 3 - 48)))
# 3 x 2 blocks: the same texture in the first; in the second equal, noisy, inverted, flat, faded
# and brightened, block by block.
def texture(x, y):
    return (x * 37 + y * 19 + (x // 8 + 3 * (y // 8)) * 50) % 200 + 20


CHANGES = [lambda v, x, y: v, lambda v, x, y: v + (x * 7 + y * 3) % 9 - 4, lambda v, x, y: 255 - v,
           lambda v, x, y: 128, lambda v, x, y: v // 2 + 60, lambda v, x, y: min(255, v + x * y % 40)]
write("blocks-first.bmp", grey(24, 16, [texture(x, y) for y in range(16) for x in range(24)]))
write("blocks-second.bmp", grey(24, 16, [CHANGES[x // 8 + 3 * (y // 8)](texture(x, y), x, y)
                                         for y in range(16) for x in range(24)]))
# The first again, as a 24-bit file whose every pixel has equal red, green and blue.
write("blocks-first-24bit.bmp", bmp(24, 16, bits=24, rows=b"".join(
    bytes((texture(x, y),) * 3) for y in reversed(range(16)) for x in range(24))))
# The writer's exact bytes: an 8-bit 2 x 2 image (its palette's reserved bytes are i as well) and
# a 24-bit 3 x 1 image, at the resolution it writes.
write("written-grey2x2.bmp", bmp(2, 2, palette=b"".join(bytes((i,) * 4) for i in range(256)),
                                 rows=bytes([7, 60, 0, 0, 0, 53, 0, 0]), resolution=300))
write("written-colour3x1.bmp", bmp(3, 1, bits=24, rows=bytes([0, 0, 0, 1, 11, 53, 2, 22, 106, 0, 0, 0]),
                                   resolution=300))


# PNG files the decoder must refuse, quickly and within bounded memory, and PGM files.
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, rows, depth=8, colour=0, idat=None, before=b"", after=b""):
    """before and after: chunks around the pixels."""
    header = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + before +
            chunk(b"IDAT", idat if idat is not None else zlib.compress(rows)) + after +
            chunk(b"IEND", b""))


write("png-grey2x2.png", png(2, 2, bytes([0, 10, 20, 0, 30, 40])))
# Alpha is dropped: grey-alpha keeps the grey level, RGBA its red, green and blue.
write("png-grey-alpha2x1.png", png(2, 1, bytes([0, 10, 255, 20, 0]), colour=4))
write("png-rgba2x1.png", png(2, 1, bytes([0, 1, 2, 3, 255, 4, 5, 6, 0]), colour=6))
bad_crc = bytearray(png(2, 2, bytes([0, 10, 20, 0, 30, 40])))
bad_crc[-16] ^= 1  # the IDAT checksum
write("png-bad-crc.png", bytes(bad_crc))
write("png-16bit-grey.png", png(1, 1, bytes(3), depth=16))
write("png-huge.png", png(65535, 65535, bytes(100)))
# 46000 x 46000 fits the model (2.1 GB) but not the default ceiling on compressed pictures; a
# megabyte of zeros in 1 KB, then the data runs out.
write("png-bomb.png", png(46000, 46000, b"", idat=zlib.compress(bytes(1 << 20), 9)))
# At the ceiling (16384 x 16384) the picture is decoded, until its data runs out.
write("png-16384x16384.png", png(16384, 16384, bytes(16385)))
# The other ways a PNG file is refused: 16-bit grey-alpha; a signature wrong past the two bytes
# that told the format, which the reader hands libspng itself; no columns, which a BMP file may
# have; a palette picture without its palette; a broken zlib stream under good checksums; a
# critical chunk libspng does not know after the pixels, which only reading on to the end finds;
# a palette picture within the model as 8-bit levels but not as the red, green and blue it is
# decoded through.
GREY2X2 = bytes([0, 10, 20, 0, 30, 40])
write("png-16bit-grey-alpha.png", png(1, 1, bytes(5), depth=16, colour=4))
write("png-bad-signature.png", b"\x89PNX" + png(2, 2, GREY2X2)[4:])
write("png-width0.png", png(0, 2, b""))
write("png-palette-without-plte.png", png(2, 2, GREY2X2, colour=3))
write("png-bad-zlib.png", png(2, 2, b"", idat=b"\x78\x9c\xff\xff\xff\xff"))
write("png-unknown-critical-after-pixels.png", png(2, 2, GREY2X2, after=chunk(b"CRIT", b"")))
write("png-palette-30000x30000.png", png(30000, 30000, b"", colour=3, before=chunk(b"PLTE", bytes(3)),
                                         idat=zlib.compress(bytes(30001))))
write("pgm-comments.pgm", b"P5 # a comment\n4 # width\n1\n# maxval next\n15\n" + bytes([0, 5, 10, 15]) +
      b"P5 1 1 255\n\x07")
write("pgm-plain.pgm", b"P2\n3 1\n3\n0 1\n3\n")
write("pgm-16bit.pgm", b"P5\n1 1\n65535\n\x00\x01")
write("pgm-short.pgm", b"P5\n4 2\n255\n" + bytes([1, 2, 3, 4, 5]))
write("pgm-above-maxval.pgm", b"P2\n2 1\n3\n1 4\n")
write("pgm-binary-above-maxval.pgm", b"P5\n4 1\n3\n\x01\x04\x02\x03")
write("pgm-comment-after-maxval.pgm", b"P5\n2 1\n255#c\nAB")
# Levels round(v * 255 / maxval) for a maxval that does not divide 255, halves rounding up.
write("pgm-maxval7.pgm", b"P2 8 1 7 0 1 2 3 4 5 6 7\n")
write("pgm-maxval100.pgm", b"P5\n4 1\n100\n\x01\x31\x32\x63")
write("pgm-bad-header.pgm", b"P5\n4 x\n255\n" + bytes(4))
write("pgm-maxval0.pgm", b"P5\n1 1\n0\n\x00")
# Header numbers past 2^31 - 1, which an int cut to 32 bits would take for 8, 1 and 255; the
# largest maxval that is a number at all.
write("pgm-width-4294967304.pgm", b"P5\n4294967304 1\n255\n" + bytes(8))
write("pgm-height-4294967297.pgm", b"P2\n1 4294967297\n255\n7\n")
write("pgm-maxval-4294967551.pgm", b"P5\n1 1\n4294967551\n\x07")
write("pgm-maxval-2147483647.pgm", b"P5\n1 1\n2147483647\n\x00\x00\x00\x07")



# JPEG files built marker by marker, one 8 x 8 block a component, every coefficient 0 (so every
# pixel 128): one-code Huffman tables, whose only code "0" means a difference of 0 or the end of a
# block, so that each scan's data is the code and its padding.
def segment(marker, payload):
    return bytes((0xFF, marker)) + struct.pack(">H", len(payload) + 2) + payload


def jpeg(scans, components=1, width=8, height=8, precision=8, frame=0xC0, data=b"\x3f"):
    """scans: (component, first coefficient, last coefficient, Ah, Al) for each scan."""
    table = bytes([1] + [0] * 15 + [0])
    out = b"\xff\xd8" + segment(0xDB, bytes([0] + [1] * 64)) + segment(0xC4, b"\x00" + table + b"\x10" + table)
    out += segment(frame, struct.pack(">BHHB", precision, height, width, components) +
                   b"".join(bytes((i, 0x11, 0)) for i in range(1, components + 1)))
    for component, first, last, high, low in scans:
        out += segment(0xDA, bytes((1, component, 0, first, last, high << 4 | low))) + data
    return out + b"\xff\xd9"


def baseline(**fields):
    return jpeg([(1, 0, 63, 0, 0)], **fields)


def progression(components):
    """Every scan a progressive file may hold: each coefficient of each component alone, first at
    a thirteenth of its precision, then refined a bit at a time: 896 scans a component."""
    return [(c, k, k, 14 - step if step else 0, 13 - step) for c in range(1, components + 1)
            for k in range(64) for step in range(14)]


write("jpeg-grey8x8.jpg", baseline())
write("jpeg-scans500.jpg", jpeg(progression(1)[:500], frame=0xC2, data=b"\x7f"))
write("jpeg-scans2688.jpg", jpeg(progression(3), components=3, frame=0xC2, data=b"\x7f"))
# 500 scans over 16 x 16 blocks, each scan 256 codes "0" (a block of zeros, a refinement bit 0):
# within the work budget of the default ceiling, past that of a ceiling of 128 x 128 pixels.
write("jpeg-scans500-128x128.jpg", jpeg(progression(1)[:500], width=128, height=128, frame=0xC2,
                                        data=bytes(32)))
write("jpeg-huge-65535.jpg", baseline(width=65535, height=65535))
write("jpeg-beyond-model.jpg", baseline(width=60000, height=60000))
write("jpeg-12bit.jpg", baseline(precision=12))
write("jpeg-lossless.jpg", baseline(frame=0xC3))
write("jpeg-two-components.jpg", jpeg([(1, 0, 63, 0, 0)], components=2))
# Damage libjpeg reports only as a warning, patching over it: a code of 24 one bits that no table
# holds, and stray bytes before the end marker.
write("jpeg-bad-code.jpg", baseline(data=b"\xff\x00\xff\x00\xff\x00"))
write("jpeg-stray-bytes.jpg", baseline(data=b"\x3f" + b"\x12" * 100))
# libjpeg is handed a file in chunks of 64 KiB: Pillow's file of a 16 x 16 picture with a comment
# and an application segment in front, the second lying across the first chunk's end (at byte
# 2 + 65536, the signature read apart) and the pixels past it.
pillow = open("../written/pil-grey16x16.jpg", "rb").read()
write("jpeg-segments-across-chunks.jpg", pillow[:2] + segment(0xFE, b"c" * 40000) +
      segment(0xEF, bytes(i % 251 for i in range(50000))) + pillow[2:])


# WebP files built chunk by chunk: an extended header whose canvas is past the ceiling, and a
# lossless picture at the format's largest sides whose data is missing.
def riff(chunks):
    body = b"WEBP" + b"".join(kind + struct.pack("<I", len(data)) + data + b"\0" * (len(data) % 2)
                              for kind, data in chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def vp8x(width, height):
    return b"VP8X", b"\0\0\0\0" + struct.pack("<I", width - 1)[:3] + struct.pack("<I", height - 1)[:3]


def vp8l(width, height, data=b""):
    return b"VP8L", b"\x2f" + struct.pack("<I", (width - 1) | (height - 1) << 14) + data


write("webp-canvas-20000x20000.webp", riff([vp8x(20000, 20000)]))
write("webp-16383x16383-no-data.webp", riff([vp8l(16383, 16383)]))


# TIFF files built tag by tag, little-endian, one strip of uncompressed samples: sides past the
# ceiling, a compression libtiff does not read (JPEG 2000), floating-point samples, and a strip
# that lies past the end of the file.
def tiff(width, height, rows, bits=8, compression=1, sample_format=1, strip_offset=None):
    tags = {256: width, 257: height, 258: bits, 259: compression, 262: 1, 273: 0, 277: 1,
            278: height, 279: len(rows), 339: sample_format}
    start = 8 + 2 + 12 * len(tags) + 4
    tags[273] = start if strip_offset is None else strip_offset
    entries = b"".join(struct.pack("<HHII", tag, 4, 1, value) for tag, value in sorted(tags.items()))
    return b"II*\0" + struct.pack("<IH", 8, len(tags)) + entries + b"\0\0\0\0" + rows


write("tiff-grey3x2.tif", tiff(3, 2, bytes((0, 50, 100, 150, 200, 250))))
write("tiff-100000x100000.tif", tiff(100000, 100000, bytes(16)))
write("tiff-jpeg2000.tif", tiff(3, 2, bytes(6), compression=34712))
write("tiff-float.tif", tiff(1, 1, bytes(4), bits=32, sample_format=3))
write("tiff-strip-past-end.tif", tiff(3, 2, bytes(6), strip_offset=600))


# A JPEG XL code stream that claims 100000 x 100000 pixels: its size header (no multiple of 8, each
# side minus 1 in 30 bits, no aspect ratio) and default metadata, the bits packed from the lowest.
def bits_lsb_first(fields):
    value, count = 0, 0
    for field, width in fields:
        value |= field << count
        count += width
    return value.to_bytes((count + 7) // 8, "little")


write("jxl-100000x100000.jxl", b"\xff\x0a" + bits_lsb_first(
    [(0, 1), (3, 2), (99999, 30), (0, 3), (3, 2), (99999, 30), (1, 1)]) + bytes(16))
