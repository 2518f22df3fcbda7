// Pictures that a decoder hands over a band of rows at a time, top row first, so that whoever
// reads one needs memory for a band rather than for the picture. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "formats/reading.h"
#include "likeness/image.h"
#include "likeness/read_limits.h"

namespace likeness {

class RowSource {
  public:
    virtual ~RowSource() = default;

    int width() const { return width_; }
    int height() const { return height_; }
    // Of the rows handed over: 8 (grey levels) or 24 (r, g, b).
    int depth() const { return depth_; }

    // Decodes the next count rows into rows, each starting stride bytes after the one before:
    // kReadOk or the reader's code, after which nothing more may be read.
    virtual int readRows(std::uint8_t* rows, std::size_t stride, int count) = 0;

    // Once every row is read: reads on past them (the chunks after a PNG's pixels, a JPEG's end
    // marker), so that a file damaged there is refused like any broken file.
    virtual int finish() = 0;

  protected:
    int width_ = 0;
    int height_ = 0;
    int depth_ = 8;
};

using RowSourcePtr = std::unique_ptr<RowSource>;

// The decoders, each from just after the bytes that told its format, which the caller has read:
// kReadOk with the source in out, or the reader's code for a file refused by its header. The
// stream must outlive the source.
int openPNGrows(std::FILE* stream, const ReadLimits& limits, RowSourcePtr* out);
int openJPEGrows(std::FILE* stream, const ReadLimits& limits, RowSourcePtr* out);
// A PGM file after its magic number, binary ("P5") or plain ("P2").
int openPGMrows(std::FILE* stream, bool plain, RowSourcePtr* out);
// The formats told by more than two bytes, from the file's first byte on. The stream must
// outlive the source.
int openWebProws(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out);
int openTIFFrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out);
int openAVIFrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out);
int openJXLrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out);

// The decoder of any format but BMP (which is read whole, or where its rows lie), on the stream
// that told it: the opener's codes, kBadHeader for kUnknown, kUnsupportedDepth for a format this
// build does not read.
int openRows(Format format, PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out);

// Rows handed over from an image read whole, for the files that cannot be decoded a band at a
// time (an interlaced PNG; a BMP file whose rows lie bottom-up or run-length encoded, from a pipe).
RowSourcePtr rowsOfImage(ImagePtr image);

// Every row of the source, and what follows them, read into a new image handed over through out.
int readAllRows(RowSource* source, Image** out);

// The same for the decoder of the format on the stream that told it.
int readAllRows(Format format, PeekedStream* stream, Image** out, const ReadLimits& limits);

}  // namespace likeness
