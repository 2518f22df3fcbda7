// Portable grey map (PGM) files, binary ("P5") and plain ("P2"), with a maxval of 1 to 65535.
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

// The largest maxval: a binary file stores a sample above 255 in two bytes, most significant first.
constexpr int kPGMMaxval = 65535;

// Reads the binary samples of a file whose maxval needs two bytes, up to the first one above
// maxval, as 8-bit levels. Returns how many were kept.
std::size_t readWideSamples(std::FILE* file, int maxval, std::uint8_t* levels, std::size_t count) {
    std::size_t read = 0;
    for (; read < count; ++read) {
        const int high = std::fgetc(file);
        const int low = std::fgetc(file);
        if (low == EOF || high * 256 + low > maxval) break;
        levels[read] = scaledLevel(static_cast<std::uint32_t>(high * 256 + low),
                                   static_cast<std::uint32_t>(maxval));
    }
    return read;
}

// Reads the samples up to the first one above maxval, which ends them as the end of the file
// would, as 8-bit levels. Returns how many were kept; the rest of levels is 0.
std::size_t readValidSamples(std::FILE* file, bool plain, int maxval, std::uint8_t* levels,
                             std::size_t count) {
    std::size_t read = 0;
    if (plain) {
        int value = 0;
        while (read < count && readNumber(file, &value) && value <= maxval)
            levels[read++] =
                scaledLevel(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(maxval));
    } else if (maxval > 255) {
        read = readWideSamples(file, maxval, levels, count);
    } else {
        read = std::fread(levels, 1, count, file);
        read = static_cast<std::size_t>(
            std::find_if(levels, levels + read, [maxval](std::uint8_t s) { return s > maxval; }) -
            levels);
        // 255, the common maxval, leaves every sample as it is.
        for (std::size_t i = 0; maxval != 255 && i < read; ++i)
            levels[i] = scaledLevel(levels[i], static_cast<std::uint32_t>(maxval));
    }
    std::fill(levels + read, levels + count, std::uint8_t{0});
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
    return *maxval > kPGMMaxval ? kUnsupportedDepth : kReadOk;
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
