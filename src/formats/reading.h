// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "likeness/image.h"
#include "likeness/read_limits.h"
#include "likeness/read_result.h"

namespace likeness {

// The formats read here, each told by a file's first two bytes: "BM" for BMP, the first two bytes
// of the PNG signature, the start-of-image marker FF D8 for JPEG, "P5" or "P2" (plain) for PGM.
// This is the one place that tells them apart.
enum class Format { kUnknown, kBMP, kPNG, kJPEG, kPGM, kPlainPGM };
Format formatOf(int first, int second);

// Reads a file of that format into out from just after its first two bytes: the reader's codes,
// kBadHeader for kUnknown.
int readFormat(Format format, std::FILE* stream, Image** out, const ReadLimits& limits);

// Reads one image from an open stream into out, with the ReadResult codes.
using FormatReader = int (*)(std::FILE* stream, Image** out, const ReadLimits& limits);

// Each format's reader from just after the bytes that told the format, which the caller has read.
// The readers of compressed pictures take the limits.
int readBMPafterSignature(std::FILE* stream, Image** out, const ReadLimits& limits);
int readPGMafterMagic(std::FILE* stream, bool plain, Image** out);

// A level v of a picture whose levels run from 0 to maximum, as an 8-bit level: round(v * 255 /
// maximum), ties away from zero, as netpbm scales samples. Every format of more than 8 bits is read
// through this one scale.
inline std::uint8_t scaledLevel(std::uint32_t value, std::uint32_t maximum) {
    return static_cast<std::uint8_t>((2 * value * 255 + maximum) / (2 * maximum));
}

// A new image of the sides and depth into out: kReadOk, kBadHeader for sides beyond the image
// model, or kOutOfMemory.
int newImage(std::int64_t width, std::int64_t height, int depth, Image** out);

// True when a compressed picture of these sides is within the limits' ceiling; each reader of
// such pictures asks as soon as its header has given the sides.
bool withinCeiling(std::int64_t width, std::int64_t height, const ReadLimits& limits);

// Reads the stream with read and hands over its image, unless the stream met a read error (a
// folder opens, but cannot be read): that is not the end of the file, so no image is handed over
// and the result is kCannotOpen.
int readStreamWith(std::FILE* stream, Image** out, const ReadLimits& limits, FormatReader read);

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
int readBMPlayout(std::FILE* stream, const ReadLimits& limits, BMPLayout* layout);

// Reads a PGM header after its magic number, leaving the stream at the first sample.
int readPGMheader(std::FILE* stream, int* width, int* height, int* maxval);

// Opens the file at path through a buffer that makes large files fast, reads it with read and
// closes it; kCannotOpen when it cannot be opened.
int readFileWith(const char* path, Image** out, const ReadLimits& limits, FormatReader read);

}  // namespace likeness
