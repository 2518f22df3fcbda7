// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "image.h"
#include "read_result.h"

namespace likeness {

// Each format's reader from just after the bytes that told the format, which the caller has read:
// "BM" for BMP, the first two bytes of the PNG signature, "P5" or "P2" (plain) for PGM.
int readBMPafterSignature(std::FILE* stream, Image** out);
int readPNGafterSignature(std::FILE* stream, Image** out);
int readPGMafterMagic(std::FILE* stream, bool plain, Image** out);

// Where an uncompressed BMP file keeps its rows, as its headers tell: what the reader would
// copy into an image, for a caller that reads the rows where they lie.
struct BMPLayout {
    int width = 0;
    int height = 0;  // of the picture, however the rows run
    int bits = 0;    // 8 or 24
    bool topDown = false;
    std::int64_t pixelStart = 0;  // where the first stored row starts, from the file's first byte
    std::int64_t stride = 0;      // bytes from one stored row to the next
    std::array<std::uint8_t, 256> grey{};  // each palette index's grey level
    bool identity = false;                 // the palette maps every index to itself
};

// Reads the headers and palette of a BMP file after its "BM" into layout: the reader's codes,
// and kBadPixels for run-length encoded rows, which do not lie where an image's would.
int readBMPlayout(std::FILE* stream, BMPLayout* layout);

// Reads a PGM header after its magic number, leaving the stream at the first sample.
int readPGMheader(std::FILE* stream, int* width, int* height, int* maxval);

// Opens the file at path through a buffer that makes large files fast, reads it with read and
// closes it; -1 when it cannot be opened.
int readFileWith(const char* path, Image** out, int (*read)(std::FILE*, Image**));

}  // namespace likeness
