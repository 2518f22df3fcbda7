#!/usr/bin/env bash
# Remakes the WebP, TIFF, AVIF and JPEG XL files in this folder with programs from Debian 12: each
# format's own encoder (cwebp 1.2.4, tiffcp 4.5.0, avifenc 0.11.1, cjxl 0.7.0), ImageMagick 6.9.11
# (convert), Pillow 9.4 (python3-pil) and netpbm 11.01, from grey37x21.pgm (the script makes it, the grey of
# colour37x21.ppm) and colour37x21.ppm, no side a multiple of 8; also the fuzzer's seeds of these
# formats (ImageMagick writes AVIF through libheif 1.15.1). Prints for each file the line expected.txt holds: the pixels the format's reference
# decoder gives (dwebp, tiffcp through libtiff's RGBA interface, avifdec, djxl), as grey levels
# for a grey file and red, green, blue for a colour one ("fnv:" and their FNV-1a 64 hash).
# Usage: make_formats.sh [FORMAT...], FORMAT one of webp, tiff, avif, jxl (all by default).
set -euo pipefail
cd "$(dirname "$0")"
seeds=../../../fuzz/seeds
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pil() { python3 -c "from PIL import Image; $1"; }
grey=grey37x21.pgm
colour=colour37x21.ppm
convert "$colour" -colorspace gray -depth 8 "$grey"
formats=("$@")
[ $# -gt 0 ] || formats=(webp tiff avif jxl)

# The line for file $1, from the picture its reference decoder wrote as PNM on standard input.
expect() {
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
print(f'written/$1 0 fnv:{hash:016x}')"
}

webp() {
  for picture in "$grey" "$colour"; do
    name=${picture%.*}
    cwebp -quiet -q 30 "$picture" -o "cwebp-q30-$name.webp"
    cwebp -quiet -lossless "$picture" -o "cwebp-lossless-$name.webp"
    convert "$picture" "im-$name.webp"
    pil "Image.open('$picture').save('pil-lossless-$name.webp', lossless=True)"
  done
  # Alpha is ignored: a colour picture with a gradient of alpha, lossy and lossless.
  convert "$colour" -alpha set -channel A -fx 'i / w' +channel "$work/alpha.png"
  cwebp -quiet -q 80 -exact "$work/alpha.png" -o cwebp-alpha-colour37x21.webp
  cwebp -quiet -lossless -exact "$work/alpha.png" -o cwebp-lossless-alpha-colour37x21.webp
  # Animations of three frames covering the canvas: the first frame is read.
  convert "$colour" "$work/frame1.png"
  convert "$colour" -negate "$work/frame2.png"
  convert "$grey" "$work/frame3.png"
  img2webp -lossless "$work"/frame{1,2,3}.png -o img2webp-animation-colour37x21.webp 2>/dev/null
  img2webp -lossy -q 60 "$work"/frame{3,2,1}.png -o img2webp-lossy-animation-grey37x21.webp 2>/dev/null
  cwebp -quiet -q 50 "$grey" -o "$seeds/webp-lossy-grey.webp"
  cwebp -quiet -lossless "$colour" -o "$seeds/webp-lossless-colour.webp"
  # Of an animation, the first frame as it stands alone: webpmux takes it out for dwebp.
  for file in *.webp; do
    if webpmux -info "$file" 2>/dev/null | grep -q animation; then
      webpmux -get frame 1 "$file" -o "$work/frame.webp" >/dev/null
      dwebp -quiet "$work/frame.webp" -ppm -o - | expect "$file"
    else
      dwebp -quiet "$file" -ppm -o - | expect "$file"
    fi
  done
}

expect "$grey" <"$grey"
# The line for TIFF file $1, from libtiff's RGBA interface (tiff2rgba), red alone for a grey file;
# for a file with alpha, which the RGBA interface multiplies into the colour and the reader
# ignores, the colour Pillow reads.
# The RGBA interface keeps the high byte alone of a 16-bit grey level (and netpbm's tifftopnm reads
# such a file the same way), so for those the reference is the levels Pillow reads, white-is-zero
# ones turned round, scaled by netpbm's pamdepth 255 as every format of more than 8 bits is.
expect_tiff() {
  if tiffinfo "$1" 2>/dev/null | grep -q 'Bits/Sample: 16' &&
     tiffinfo "$1" 2>/dev/null | grep -q 'Samples/Pixel: 1$'; then
    python3 -c "
import sys
from PIL import Image
image = Image.open('$1')
levels = list(image.getdata())
if image.tag_v2[262] == 0:
    levels = [65535 - level for level in levels]
sys.stdout.buffer.write(b'P5 %d %d 65535\n' % image.size + b''.join(v.to_bytes(2, 'big') for v in levels))
" | pamdepth 255 | expect "$1"
    return
  fi
  if [[ $1 == *alpha* ]]; then
    pil "Image.open('$1').convert('RGB').save('$work/rgb.ppm')"
  else
    tiff2rgba -c none "$1" "$work/rgba.tif"
    pil "Image.open('$work/rgba.tif').convert('RGB').save('$work/rgb.ppm')"
  fi
  if [ "$(tiffinfo "$1" 2>/dev/null | grep -m1 -cE 'Photometric Interpretation: min-is-(black|white)')" = 1 ] &&
     [ "$(tiffinfo "$1" 2>/dev/null | grep -m1 -oE 'Samples/Pixel: [0-9]+')" != "Samples/Pixel: 3" ]; then
    python3 -c "
from PIL import Image
Image.open('$work/rgb.ppm').getchannel('R').save('$work/grey.pgm')"
    expect "$1" <"$work/grey.pgm"
  else
    expect "$1" <"$work/rgb.ppm"
  fi
}

tiff() {
  for picture in "$grey" "$colour"; do
    name=${picture%.*}
    convert "$picture" -compress none "$work/$name.tif"
    for compression in none lzw zip packbits; do
      tiffcp -c "$compression" "$work/$name.tif" "tiffcp-$compression-$name.tif"
    done
    tiffcp -c lzw -r 2 "$work/$name.tif" "tiffcp-strips2-$name.tif"
    tiffcp -c zip -t -w 16 -l 16 "$work/$name.tif" "tiffcp-tiles16-$name.tif"
    tiffcp -p separate "$work/$name.tif" "tiffcp-separate-$name.tif"
    for compression in None LZW Zip RLE; do
      convert "$picture" -compress "$compression" "im-${compression,,}-$name.tif"
    done
    convert "$picture" -define tiff:tile-geometry=16x16 -compress LZW "im-tiles16-$name.tif"
    for compression in tiff_lzw tiff_adobe_deflate packbits raw; do
      pil "Image.open('$picture').save('pil-$compression-$name.tif', compression='$compression')"
    done
  done
  convert "$grey" -define tiff:photometric=min-is-white im-miniswhite-grey37x21.tif
  convert "$grey" -monochrome -compress Group4 im-group4-bilevel37x21.tif
  # ImageMagick writes a 16-bit grey picture with its levels cut to 8 bits; netpbm does not.
  pamtotiff -lzw deep-grey37x21.pgm >netpbm-16bit-grey37x21.tif 2>/dev/null
  pamtotiff -flate -miniswhite deep-grey37x21.pgm >netpbm-16bit-miniswhite-grey37x21.tif 2>/dev/null
  convert deep-colour37x21.ppm -depth 16 -compress LZW im-16bit-colour37x21.tif
  convert "$colour" -alpha set -channel A -fx 'i / w' +channel im-alpha-colour37x21.tif
  # Two pages: the first, grey, is read.
  convert "$grey" "$colour" im-two-pages-grey37x21.tif
  tiffcp -c lzw "$work/grey37x21.tif" "$seeds/tiff-lzw-grey.tif"
  tiffcp -c zip -t -w 16 -l 16 "$work/colour37x21.tif" "$seeds/tiff-tiles-colour.tif"
  for file in *.tif; do
    expect_tiff "$file"
  done
}

# The line for AVIF file $1, from avifdec's PNG file: 8 bits a sample for an 8-bit picture, 16 for
# a deeper one, scaled by netpbm's pamdepth 255; red alone for a monochrome (4:0:0) file.
expect_avif() {
  avifdec "$1" "$work/decoded.png" >/dev/null
  if avifdec --info "$1" 2>/dev/null | grep -q 'Format *: YUV400'; then
    pngtopam "$work/decoded.png" | pamdepth 255 | ppmtopgm | expect "$1"
  else
    pngtopam "$work/decoded.png" | pamdepth 255 | expect "$1"
  fi
}

avif() {
  convert "$grey" "$work/grey.png"
  convert "$colour" "$work/colour.png"
  for name in grey colour; do
    for yuv in 420 444 400; do
      avifenc -s 8 --min 20 --max 30 -y "$yuv" "$work/$name.png" "avifenc-8bit-$yuv-${name}37x21.avif" >/dev/null
    done
    avifenc -s 8 -l "$work/$name.png" "avifenc-lossless-${name}37x21.avif" >/dev/null
  done
  convert deep-colour37x21.ppm -depth 16 "$work/deep-colour.png"
  for depth in 10 12; do
    for yuv in 420 444 400; do
      avifenc -s 8 --min 10 --max 20 -d "$depth" -y "$yuv" "$work/deep-colour.png" \
        "avifenc-${depth}bit-$yuv-colour37x21.avif" >/dev/null
    done
  done
  convert "$colour" -alpha set -channel A -fx 'i / w' +channel "$work/alpha.png"
  avifenc -s 8 "$work/alpha.png" avifenc-alpha-colour37x21.avif >/dev/null
  convert "$colour" -quality 60 im-colour37x21.avif
  convert "$grey" -quality 60 im-grey37x21.avif
  avifenc -s 8 -y 400 "$work/grey.png" "$seeds/avif-grey.avif" >/dev/null
  avifenc -s 8 -d 10 "$work/colour.png" "$seeds/avif-10bit-colour.avif" >/dev/null
  for file in *.avif; do
    expect_avif "$file"
  done
}

# The line for JPEG XL file $1, from djxl's PNG file (of the picture's own depth, scaled by
# netpbm's pamdepth 255). libjxl's lossy decoding (and that of a recompressed JPEG file, which
# jxlinfo calls "possibly lossless") rounds as the processor's vector unit does, so such a file's
# pixels are marked as those of this processor.
expect_jxl() {
  djxl "$1" "$work/decoded.png" --quiet --num_threads=1
  local processor=""
  if jxlinfo "$1" 2>/dev/null | grep -q ', lossy,' || [[ $1 == *from-jpeg* ]]; then
    processor="@$(uname -m)"
  fi
  pngtopam "$work/decoded.png" | pamdepth 255 | expect "$1" | sed "s/\$/$processor/"
}

jxl() {
  convert "$grey" "$work/grey.png"
  convert "$colour" "$work/colour.png"
  for name in grey colour; do
    cjxl --quiet "$work/$name.png" "cjxl-d1-${name}37x21.jxl"
    cjxl --quiet -d 0 "$work/$name.png" "cjxl-lossless-${name}37x21.jxl"
    cjxl --quiet -d 2 --container=1 "$work/$name.png" "cjxl-container-${name}37x21.jxl"
  done
  convert deep-grey37x21.pgm -depth 16 "$work/deep-grey.png"
  convert deep-colour37x21.ppm -depth 16 "$work/deep-colour.png"
  cjxl --quiet -d 0 "$work/deep-grey.png" cjxl-lossless-16bit-grey37x21.jxl
  cjxl --quiet -d 0 "$work/deep-colour.png" cjxl-lossless-16bit-colour37x21.jxl
  cjxl --quiet -d 1 "$work/deep-colour.png" cjxl-d1-16bit-colour37x21.jxl
  # A JPEG file recompressed without loss: its pixels as libjxl decodes them.
  cjxl --quiet --lossless_jpeg=1 cjpeg-colour37x21.jpg cjxl-from-jpeg-colour37x21.jxl
  convert "$colour" -alpha set -channel A -fx 'i / w' +channel "$work/alpha.png"
  cjxl --quiet "$work/alpha.png" cjxl-alpha-colour37x21.jxl
  # An animation whose first frame is blended from 40 layers of no duration.
  for i in $(seq 1 40); do convert -size 37x21 xc:"gray($((i * 5)))" "$work/layer$i.png"; done
  convert -delay 0 "$work"/layer{1..39}.png -delay 10 "$work/layer40.png" "$work/layers.gif"
  cjxl --quiet "$work/layers.gif" cjxl-layers40-grey37x21.jxl
  cjxl --quiet "$work/grey.png" "$seeds/jxl-grey.jxl"
  cjxl --quiet -d 0 --container=1 "$work/colour.png" "$seeds/jxl-lossless-colour.jxl"
  for file in *.jxl; do
    expect_jxl "$file"
  done
}

for format in "${formats[@]}"; do
  "$format"
done
