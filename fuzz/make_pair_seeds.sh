#!/usr/bin/env bash
# Writes the comparison fuzzer's seeds, fuzz/seeds/pairs/*.pair: two files of the test data with
# the fuzzer's separator line (fuzz/compare_fuzzer.cpp) between them, each pair named for what it
# holds. Pairs of 3 x 2 blocks score differently block by block.
set -euo pipefail
cd "$(dirname "$0")"
data=../tests/data
mkdir -p seeds/pairs
pair() {
  { cat "$data/$2"; printf '\n--likeness-second-file--\n'; cat "$data/$3"; } >"seeds/pairs/$1.pair"
}
pair bmp-8bit-against-bmp-8bit crafted/blocks-first.bmp crafted/blocks-second.bmp
pair png-against-bmp written/blocks-first.png crafted/blocks-second.bmp
pair jpeg-against-pgm written/im-grey-blocks-first.jpg written/blocks-second.pgm
pair bmp-24bit-grey-against-png-8bit crafted/blocks-first-24bit.bmp written/blocks-first.png
pair png-24bit-grey-against-pgm written/im-rgb-blocks-first.png written/blocks-second.pgm
# 16 x 16: decoded whole (interlaced) against progressive.
pair png-interlaced-against-jpeg-progressive written/im-interlaced-grey16x16.png \
  written/cjpeg-progressive-grey16x16.jpg
# Grey against colour of the same size, and colour against grey of another size: the verdict's
# order.
pair png-grey-against-bmp-colour written/ffmpeg-grey16x16.png crafted/colour16x16.bmp
pair bmp-colour-against-pgm-other-size written/im-colour10x6.bmp written/grey16x16.pgm
