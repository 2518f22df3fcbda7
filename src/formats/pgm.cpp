// Portable grey map (PGM) files, binary ("P5") and plain ("P2"), with a maxval of 1 to 255.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <new>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// A text header of magic number, width, height and maxval, separated by whitespace and
// comments from "#" to the end of the line, then the samples.

// The first character after whitespace and comments, or EOF.
int skipSeparators(std::FILE* file) {
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '#') {
            while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
        } else if (!std::isspace(c)) {
            return c;
        }
    }
    return EOF;
}

// Reads a decimal number and the one character that ends it; false for none, or one past 2^31 - 1.
bool readNumber(std::FILE* file, int* value) {
    int c = skipSeparators(file);
    if (!std::isdigit(c)) return false;
    std::int64_t number = 0;
    for (; std::isdigit(c); c = std::fgetc(file)) {
        number = number * 10 + (c - '0');
        if (number > INT32_MAX) return false;
    }
    // A comment may follow a field directly; with its line end it is then the one character that
    // ends the field, as netpbm reads it, so that the samples start on the next line.
    if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
    }
    *value = static_cast<int>(number);
    return c == EOF || std::isspace(c);
}

// round(v * 255 / maxval), as netpbm scales samples.
std::uint8_t scaleSample(int value, int maxval) {
    return static_cast<std::uint8_t>((2 * value * 255 + maxval) / (2 * maxval));
}

// Reads the samples up to the first one above maxval, which ends them as the end of the file
// would: it and everything after it are 0. Returns how many were kept.
std::size_t readValidSamples(std::FILE* file, bool plain, int maxval, std::uint8_t* samples,
                             std::size_t count) {
    std::size_t read = 0;
    if (plain) {
        int value = 0;
        while (read < count && readNumber(file, &value) && value <= maxval)
            samples[read++] = static_cast<std::uint8_t>(value);
    } else {
        read = std::fread(samples, 1, count, file);
        read = static_cast<std::size_t>(
            std::find_if(samples, samples + read, [maxval](std::uint8_t s) { return s > maxval; }) -
            samples);
    }
    std::fill(samples + read, samples + count, std::uint8_t{0});
    return read;
}

// The samples a row at a time, top row first, scaled to 0..255.
class PGMRows final : public RowSource {
  public:
    PGMRows(std::FILE* file, bool plain, int width, int height, int maxval)
        : file_(file), plain_(plain), maxval_(maxval) {
        width_ = width;
        height_ = height;
    }

    int readRows(std::uint8_t* rows, std::size_t stride, int count) override {
        const auto width = static_cast<std::size_t>(width_);
        for (int y = 0; y < count; ++y) {
            std::uint8_t* row = rows + static_cast<std::size_t>(y) * stride;
            const std::size_t read =
                ended_ ? 0 : readValidSamples(file_, plain_, maxval_, row, width);
            std::fill(row + read, row + width, std::uint8_t{0});
            ended_ = ended_ || read < width;
            // 255, the common maxval, leaves every sample as it is.
            for (std::size_t x = 0; maxval_ != 255 && x < read; ++x)
                row[x] = scaleSample(row[x], maxval_);
        }
        return ended_ ? kBadPixels : kReadOk;
    }

    // Bytes after the last row are not read.
    int finish() override { return ended_ ? kBadPixels : kReadOk; }

  private:
    std::FILE* file_;
    bool plain_;
    int maxval_;
    bool ended_ = false;  // the file ended, or a sample above maxval ended the samples
};

}  // namespace

int readPGMheader(std::FILE* file, int* width, int* height, int* maxval) {
    if (!readNumber(file, width) || !readNumber(file, height) || !readNumber(file, maxval) ||
        *maxval == 0) {
        return kBadHeader;
    }
    return *maxval > 255 ? kUnsupportedDepth : kReadOk;
}

int openPGMrows(std::FILE* file, bool plain, RowSourcePtr* out) {
    int width = 0;
    int height = 0;
    int maxval = 0;
    const int result = readPGMheader(file, &width, &height, &maxval);
    std::int64_t bytes = 0;
    if (result != kReadOk) return result;
    if (!checkedSize(width, height, &bytes)) return kBadHeader;
    out->reset(new (std::nothrow) PGMRows(file, plain, width, height, maxval));
    return *out ? kReadOk : kOutOfMemory;
}

// The header after its magic number, "P5" (binary samples) or "P2" (plain), then the samples. A
// file that ends inside its pixels hands over the rows it held, 0 beyond them.
int readPGMafterMagic(std::FILE* file, bool plain, Image** out) {
    RowSourcePtr rows;
    int result = openPGMrows(file, plain, &rows);
    Image* image = nullptr;
    if (result == kReadOk) result = newImage(rows->width(), rows->height(), 8, &image);
    if (result != kReadOk) return result;
    *out = image;
    return rows->readRows(image->data, static_cast<std::size_t>(image->width), image->height);
}

}  // namespace likeness
