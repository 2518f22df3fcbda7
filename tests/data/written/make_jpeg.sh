#!/usr/bin/env bash
# Remakes the JPEG files in this folder, and the grey pictures stored in colour files, with
# programs from Debian 12: cjpeg from libjpeg-turbo-progs 2.1.5, ImageMagick 6.9.11 (convert),
# Pillow 9.4 (python3-pil) and ffmpeg 5.1; also the fuzzer's JPEG seeds. Prints for each file the
# line expected.txt holds: the pixels as Pillow decodes them ("fnv:" and their FNV-1a 64 hash for
# the larger pictures), or -3 for a CMYK file.
set -euo pipefail
cd "$(dirname "$0")"
seeds=../../../fuzz/seeds/jpeg
mkdir -p "$seeds"
pil() { python3 -c "from PIL import Image; $1"; }
# A colour picture with detail in every channel, 37 x 21: neither side a multiple of 8 or 16.
pil "Image.frombytes('RGB', (37, 21), bytes((x * 7 + y * 3 + c * 80 + (x * y) % 23 * 5) % 256
  for y in range(21) for x in range(37) for c in range(3))).save('colour37x21.ppm')"

for picture in grey13x7.pgm grey16x16.pgm colour37x21.ppm; do
  name=${picture%.*}
  cjpeg -quality 85 "$picture" >"cjpeg-$name.jpg"
  cjpeg -progressive "$picture" >"cjpeg-progressive-$name.jpg"
  cjpeg -arithmetic "$picture" >"cjpeg-arithmetic-$name.jpg"
  cjpeg -restart 1 "$picture" >"cjpeg-restart-$name.jpg"
  convert "$picture" "im-$name.jpg"
  pil "Image.open('$picture').save('pil-$name.jpg')"
  ffmpeg -loglevel error -y -i "$picture" -pix_fmt yuvj444p "ffmpeg-$name.jpg"
done
for sampling in 2x2 2x1 1x1; do
  cjpeg -sample "$sampling" colour37x21.ppm >"cjpeg-sample$sampling-colour37x21.jpg"
done
cjpeg -grayscale colour37x21.ppm >cjpeg-grayscale-colour37x21.jpg
cjpeg -rgb colour37x21.ppm >cjpeg-rgb-colour37x21.jpg
pil "Image.open('colour37x21.ppm').save('pil-progressive-colour37x21.jpg', progressive=True)"
ffmpeg -loglevel error -y -i colour37x21.ppm -pix_fmt yuvj420p ffmpeg-420-colour37x21.jpg
convert colour10x6.ppm -colorspace CMYK im-cmyk-colour10x6.jpg

# The command-line block pair's first picture, grey, stored in colour files: it must score as
# the 8-bit picture does (the JPEG files as the grey JPEG file of the same picture).
first=../crafted/blocks-first.bmp
convert "$first" -type TrueColor BMP3:im-truecolour-blocks-first.bmp
convert "$first" -type TrueColor PNG24:im-rgb-blocks-first.png
convert "$first" -type TrueColorAlpha PNG32:im-rgba-blocks-first.png
convert "$first" -type TrueColor im-rgb-blocks-first.jpg
convert "$first" im-grey-blocks-first.jpg
for mode in RGB RGBA; do
  pil "Image.open('$first').convert('$mode').save('pil-${mode,,}-blocks-first.png')"
done
pil "Image.open('$first').convert('RGB').save('pil-rgb-blocks-first.bmp')"
pil "Image.open('$first').convert('RGB').save('pil-rgb-blocks-first.jpg')"
pil "Image.open('$first').save('pil-grey-blocks-first.jpg')"

# Fuzzer seeds: one small picture in each coding.
seed=grey13x7.pgm
cjpeg "$seed" >"$seeds/baseline-grey.jpg"
cjpeg -progressive "$seed" >"$seeds/progressive-grey.jpg"
cjpeg -arithmetic -sample 2x1 colour10x6.ppm >"$seeds/arithmetic-colour.jpg"
cjpeg -progressive -sample 2x2 colour10x6.ppm >"$seeds/progressive-colour.jpg"
cjpeg -restart 1 -rgb colour10x6.ppm >"$seeds/restart-rgb.jpg"

python3 - *.jpg *-blocks-first.bmp *-blocks-first.png <<'EOF'
import sys
from PIL import Image

for name in sys.argv[1:]:
    image = Image.open(name)
    if image.mode == "CMYK":
        print(f"written/{name} -3")
        continue
    pixels = image.convert("RGB" if image.mode in ("RGB", "RGBA") else "L").tobytes()
    if len(pixels) <= 400:
        print(f"written/{name} 0 ={pixels.hex()}")
        continue
    hash = 0xCBF29CE484222325
    for byte in pixels:
        hash = (hash ^ byte) * 0x100000001B3 % 2**64
    print(f"written/{name} 0 fnv:{hash:016x}")
EOF
