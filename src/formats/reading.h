// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "likeness/image.h"
#include "likeness/read_limits.h"
#include "likeness/read_result.h"

namespace likeness {

// The formats read here, each told by a file's first bytes: "BM" for BMP, the first two bytes of
// the PNG signature, the start-of-image marker FF D8 for JPEG, "P5" or "P2" (plain) for PGM,
// "RIFF" and "WEBP" for WebP, "II*\0" or "MM\0*" (or BigTIFF's "II+\0", "MM\0+") for TIFF, an
// ISO media file whose brands include "avif" or "avis" for AVIF, and a JPEG XL code stream (FF 0A)
// or its container.
enum class Format { kUnknown, kBMP, kPNG, kJPEG, kPGM, kPlainPGM, kWebP, kTIFF, kAVIF, kJXL };

// A stream and the bytes read from its start to tell its format. A pipe cannot be moved back, so a
// decoder that wants the file from its first byte is handed them again first, through read. The
// formats told by two bytes are told by those alone: their readers go on from the third byte.
class PeekedStream {
  public:
    explicit PeekedStream(std::FILE* file) : file_(file) {}

    std::FILE* file() const { return file_; }
    // Reads as many of the first bytes as tell the format: kUnknown too for a file of fewer than
    // two bytes, which peeked() then tells.
    Format tell();
    std::size_t peeked() const { return count_; }
    // Reads up to length bytes where the decoder stands, the peeked ones first: how many were read,
    // fewer at the end of the file.
    std::size_t read(void* out, std::size_t length);

  private:
    // Peeks until count bytes are held, or the file ends: whether they are.
    bool peekTo(std::size_t count);
    Format tellLonger();
    bool isAVIF();

    // The longest box of brands looked through for AVIF's.
    static constexpr std::size_t kMostPeeked = 64;
    std::FILE* file_;
    std::array<std::uint8_t, kMostPeeked> bytes_{};
    std::size_t count_ = 0;   // bytes peeked
    std::size_t handed_ = 0;  // of them, how many read has handed over
};

// Reads a file of that format into out from where stream stands after telling it: the reader's
// codes, kBadHeader for kUnknown, kUnsupportedDepth for a format this build does not read.
int readFormat(Format format, PeekedStream* stream, Image** out, const ReadLimits& limits);

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

// The ceiling on compressed pictures in force: the limits', or when they lift it the pixels the
// image model's 2^31 - 1 bytes can hold. The budgets of memory and work that grow with a
// picture are reckoned from it.
std::int64_t ceilingInForce(const ReadLimits& limits);

// Reads the rest of the stream, the peeked bytes first, into bytes, for a decoder that wants the
// whole file at hand: kReadOk, or kBadHeader when it holds more than limit bytes.
int readWholeStream(PeekedStream* stream, std::int64_t limit, std::vector<std::uint8_t>* bytes);

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
