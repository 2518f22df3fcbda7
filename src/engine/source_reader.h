// One of the two pictures as the engine reads it: rows read where they lie in a file, rows handed
// over by a decoder, or an image in memory; and the one place that decides which a source is.
// Internal to the library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "engine/levels.h"
#include "formats/row_source.h"
#include "likeness/engine.h"
#include "likeness/likeness.h"
#include "likeness/read_result.h"

namespace likeness {

// Closes a file the comparison opened.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct SourceReader {
    int width = 0;
    int height = 0;
    // Not grey: a colour image, or a 24-bit picture with a pixel of colour or none at all, which
    // has no 8-bit twin.
    bool colour = false;
    bool luma = false;     // a 24-bit picture is taken by its luma
    int result = kReadOk;  // what reading the rows came to: a file that shrank, a decoder's refusal
    FilePtr file;          // the file the rows are read from, when the comparison opened it
    std::FILE* stream = nullptr;           // the stream a decoder reads: file, or the caller's
    std::unique_ptr<PeekedStream> peeked;  // the stream, with the bytes read to tell its format
    // Rows where they lie in a regular file:
    bool placed = false;
    std::int64_t rowsStart = 0;  // where the first stored row starts in the file
    std::size_t stride = 0;      // bytes from one stored row (or image row) to the next
    bool bottomUp = false;
    Pixels pixels = Pixels::kGrey;  // how stored bytes (decoded ones too) become levels
    std::array<std::uint8_t, 256> grey{};
    // Or rows handed over by a decoder, the next one being nextRow:
    RowSourcePtr rows;
    int nextRow = 0;
    // Or grey levels in memory: the caller's image, or one read whole and kept in owned.
    const Image* image = nullptr;
    ImagePtr owned;
};

// Opens the picture of source: kReadOk, or the reader's code for one that cannot be read. Only
// regular files and pipes are read, a pipe without waiting for a writer; a
// file's first bytes tell its format, and an uncompressed BMP or a binary PGM of maxval 255 that
// is a regular file holding all its rows is read where its rows lie.
int openSource(const Source& source, const CompareOptions& options, SourceReader* picture);

// Reads count stored rows of a placed picture from the one that lies first in the file into
// buffer; false when the file ends first, the rest of the buffer then 0.
bool readStoredRows(const SourceReader& picture, std::size_t firstRow, std::size_t count,
                    std::uint8_t* buffer);

// count rows from y0 down of a placed picture or one in memory, as they lie: in the image, or read
// from the file into stored, where palette indices become grey levels. Sets ended when the file
// ends first.
GreyRows storedRows(const SourceReader& picture, int y0, int count, std::uint8_t* stored,
                    bool* ended);

// A band of 8 rows as grey levels: where they lie, or taken out of three-byte pixels into grey
// (the picture's width bytes a row), marking colour where a pixel is not grey.
GreyRows greyBand(const SourceReader& picture, GreyRows band, int count, std::uint8_t* grey,
                  bool* colour);

// Bytes a stored or decoded row of the picture takes.
std::size_t storedRowBytes(const SourceReader& picture);

// The next count rows of any picture, from y0, as grey levels: decoded into stored (count rows of
// storedRowBytes) and grey (count rows of width), or where they lie. Marks colour and a failed
// read (picture->result) as they turn up.
GreyRows nextRows(SourceReader* picture, int y0, int count, std::uint8_t* stored,
                  std::uint8_t* grey);

// Reads what follows the rows of a decoded picture, once all of them are read.
void finishSource(SourceReader* picture);

// Reads a picture through to the end of its file without scoring it, as far as it takes to know
// whether it can be read whole and whether it is grey.
void readThrough(SourceReader* picture);

}  // namespace likeness
