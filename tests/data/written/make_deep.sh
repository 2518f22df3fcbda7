#!/usr/bin/env bash
# Remakes the pictures of more than 8 bits in this folder with programs from Debian 12:
# ImageMagick 6.9.11 (convert), Pillow 9.4 (python3-pil) and netpbm 11.01 (pnmtopng, pamdepth,
# pnmtoplainpnm), from two 16-bit pictures the script writes (deep-grey37x21.pgm and
# deep-colour37x21.ppm, maxval 65535, detail in every channel, no side a multiple of 8). Prints for
# each file the line expected.txt holds: the levels netpbm gives them at 8 bits (pngtopam, then
# pamdepth 255), round(v * 255 / maxval). ImageMagick's own "-depth 8" is not the reference: Debian
# 12's ImageMagick truncates there, floor(v / 257), for every one of the 65536 levels.
set -euo pipefail
cd "$(dirname "$0")"
python3 - <<'PY'
def level(x, y, c):
    return (x * 1789 + y * 4093 + (x * y) % 97 * 331 + c * 20011) % 65536
size = b"37 21\n65535\n"
with open("deep-grey37x21.pgm", "wb") as out:
    out.write(b"P5\n" + size + b"".join(level(x, y, 0).to_bytes(2, "big")
                                        for y in range(21) for x in range(37)))
with open("deep-colour37x21.ppm", "wb") as out:
    out.write(b"P6\n" + size + b"".join(level(x, y, c).to_bytes(2, "big")
                                        for y in range(21) for x in range(37) for c in range(3)))
PY
grey=deep-grey37x21.pgm
colour=deep-colour37x21.ppm
convert "$grey" -depth 16 im-16bit-grey37x21.png
convert "$grey" -depth 16 -interlace PNG im-16bit-interlaced-grey37x21.png
convert "$grey" -depth 16 -alpha set -channel A -evaluate set 50% im-16bit-grey-alpha37x21.png
convert "$colour" -depth 16 im-16bit-colour37x21.png
convert "$colour" -depth 16 -alpha set im-16bit-rgba37x21.png
pnmtopng "$grey" >netpbm-16bit-grey37x21.png 2>/dev/null
pnmtopng "$colour" >netpbm-16bit-colour37x21.png 2>/dev/null
python3 -c "from PIL import Image; Image.open('$grey').save('pil-16bit-grey37x21.png')"
pamdepth 1000 "$grey" >netpbm-maxval1000-grey37x21.pgm
pamdepth 4095 "$grey" | pnmtoplainpnm >netpbm-plain4095-grey37x21.pgm

for name in *16bit*.png deep-grey37x21.pgm netpbm-maxval1000-grey37x21.pgm \
  netpbm-plain4095-grey37x21.pgm; do
  case $name in *.png) pngtopam "$name" ;; *) cat "$name" ;; esac | pamdepth 255 |
    python3 -c "
import sys
data = sys.stdin.buffer.read()
fields = data.split(maxsplit=4)  # magic, width, height, maxval, then the samples
width, height = int(fields[1]), int(fields[2])
channels = 3 if fields[0] == b'P6' else 1
pixels = data[len(data) - width * height * channels:]
hash = 0xCBF29CE484222325
for byte in pixels:
    hash = (hash ^ byte) * 0x100000001B3 % 2**64
print(f'written/$name 0 fnv:{hash:016x}')"
done
