// Image files of every format the library reads, told apart by their first bytes: BMP ("BM"),
// PNG (through libspng), PGM ("P5" binary, "P2" plain), JPEG (FF D8, through libjpeg-turbo), and
// as built WebP (libwebp), TIFF (libtiff), AVIF (libavif) and JPEG XL (libjxl).
#pragma once

#include <cstdio>

#include "image.h"
#include "read_limits.h"
#include "read_result.h"

namespace likeness {

// Reads the image file at path, of any format read, into a new image handed over through out, as
// readBMPfile does, with its result codes: -1 a file that cannot be opened or read (a folder, a
// read error), -2 one of fewer than two bytes, -10 a file of no format read here, a malformed
// header, an image beyond the model or a compressed picture beyond the limits' ceiling, -3 a
// depth or kind not read here (a PGM maxval above 65535, a CMYK or 12-bit JPEG, a TIFF
// compression libtiff lacks, a format left out of the build), -20 a BMP or PGM file that ends
// inside its pixels (the partial image is handed over), -30 a compressed file its decoder refused
// (or, for JPEG, warned about), or whose decoding work is past the budget the ceiling sets. Grey,
// grey-alpha and palette PNGs become 8-bit images (grey level; a palette entry's red component),
// colour PNGs 24-bit ones; alpha is ignored; 16-bit levels, and PGM samples of any maxval M, become
// round(v * 255 / M). Grey JPEGs become 8-bit images, colour ones 24-bit images; so do grey and
// colour pictures of the other formats, the first frame or page of several (see the README).
int readImageFile(const char* path, Image** out, const ReadLimits& limits);
// With the default limits.
int readImageFile(const char* path, Image** out);

// The same from an open stream, read from where it stands and never moved back (a pipe will
// do); the caller closes it.
int readImageStream(std::FILE* stream, Image** out, const ReadLimits& limits);
int readImageStream(std::FILE* stream, Image** out);

}  // namespace likeness
