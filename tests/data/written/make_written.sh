#!/usr/bin/env bash
# Remakes the BMP, PNG and PGM files in this folder with the programs that people convert
# pictures with, all from Debian 12: ImageMagick 6.9.11 (convert), GraphicsMagick 1.3.40 (gm),
# Pillow 9.4 (python3-pil), netpbm 11.01 (ppmtobmp, pnmtopng, pamdepth) and ffmpeg 5.1. The pictures are grey13x7.pgm (an odd
# width, so every row has filler), grey16x16.pgm and colour10x6.ppm. Prints for each file the line
# expected.txt holds: the pixels as ImageMagick decodes them (red channel for 8-bit files), which
# Pillow's decoding was checked against when the files were made.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for picture in grey13x7 grey16x16; do
  python3 -c "from PIL import Image; Image.open('$picture.pgm').save('$work/$picture.png')"
  convert "$work/$picture.png" "im-$picture.bmp"                         # 108 bytes, RLE8
  convert "$work/$picture.png" -compress none "im-none-$picture.bmp"     # 108 bytes
  convert "$work/$picture.png" BMP3:"im-bmp3-$picture.bmp"               # 40 bytes, RLE8
  convert "$picture.pgm" -type Palette "im-palette-$picture.bmp"         # 124 bytes, RLE8
  convert "$picture.pgm" -type Palette -compress none "im-palette-none-$picture.bmp"
  convert "$picture.pgm" "im-truecolour-$picture.bmp"                    # 108 bytes, 24-bit
  gm convert "$work/$picture.png" "gm-$picture.bmp"                      # 40 bytes, RLE8
  gm convert "$picture.pgm" "gm-truecolour-$picture.bmp"                 # 24-bit
  python3 -c "from PIL import Image; Image.open('$picture.pgm').save('pil-$picture.bmp')"
  ppmtobmp "$picture.pgm" >"netpbm-$picture.bmp" 2>/dev/null
  ffmpeg -loglevel error -y -i "$picture.pgm" -pix_fmt gray "ffmpeg-$picture.bmp"
done
convert colour10x6.ppm im-colour10x6.bmp                                # 124 bytes, 24-bit
convert colour10x6.ppm -type Palette im-palette-colour10x6.bmp          # 4-bit: refused
python3 -c "from PIL import Image; Image.open('colour10x6.ppm').convert('P').save('pil-palette-colour10x6.bmp')"
python3 -c "from PIL import Image; Image.open('colour10x6.ppm').save('pil-colour10x6.bmp')"
ffmpeg -loglevel error -y -i colour10x6.ppm -pix_fmt pal8 ffmpeg-palette-colour10x6.bmp
ffmpeg -loglevel error -y -i colour10x6.ppm ffmpeg-colour10x6.bmp

# PNG and PGM files of the same pictures, grey and palette, 1 to 8 bits, interlaced and not.
for picture in grey13x7 grey16x16; do
  python3 -c "from PIL import Image; Image.open('$picture.pgm').save('pil-$picture.png')"
  python3 -c "from PIL import Image; Image.open('$picture.pgm').convert('1').save('pil-1bit-$picture.png')"
  python3 -c "from PIL import Image; Image.open('$picture.pgm').quantize(16).save('pil-palette4-$picture.png', bits=4)"
  convert "$picture.pgm" -interlace PNG "im-interlaced-$picture.png"
  convert "$picture.pgm" -depth 2 "im-2bit-$picture.png"
  pnmtopng "$picture.pgm" >"netpbm-$picture.png" 2>/dev/null
  pnmtopng -interlace "$picture.pgm" >"netpbm-interlaced-$picture.png" 2>/dev/null
  pamdepth 15 "$picture.pgm" | pnmtoplainpnm >"netpbm-plain15-$picture.pgm"
  ffmpeg -loglevel error -y -i "$picture.pgm" -pix_fmt gray "ffmpeg-$picture.png"
done
python3 -c "from PIL import Image; Image.open('colour10x6.ppm').save('pil-colour10x6.png')"
python3 -c "from PIL import Image; Image.open('colour10x6.ppm').convert('P').save('pil-palette-colour10x6.png')"
# The command-line block pair, as PNG and PGM: it must score as the BMP pair does.
python3 -c "from PIL import Image; Image.open('../crafted/blocks-first.bmp').save('blocks-first.png')"
bmptopnm ../crafted/blocks-second.bmp 2>/dev/null | ppmtopgm >blocks-second.pgm

for file in *.png *.pgm; do
  case $(python3 -c "from PIL import Image; print(Image.open('$file').mode)") in
    RGB | RGBA) pixels=$(convert "$file" -depth 8 rgb:- | od -An -v -tx1 | tr -d ' \n') ;;
    *) pixels=$(convert "$file" -depth 8 -channel R -separate gray:- | od -An -v -tx1 | tr -d ' \n') ;;
  esac
  echo "written/$file 0 =$pixels"
done
for file in *.bmp; do
  bits=$(python3 -c "import struct; print(struct.unpack('<H', open('$file', 'rb').read()[28:30])[0])")
  case $bits in
    8) pixels=$(convert "$file" -depth 8 -channel R -separate gray:- | od -An -v -tx1 | tr -d ' \n') ;;
    24) pixels=$(convert "$file" -depth 8 rgb:- | od -An -v -tx1 | tr -d ' \n') ;;
    *) echo "written/$file -3"; continue ;;
  esac
  echo "written/$file 0 =$pixels"
done
