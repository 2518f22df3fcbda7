// Portable grey map (PGM) files, binary ("P5") and plain ("P2"), with a maxval of 1 to 255.
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "formats/reading.h"

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
// would: it and everything after it stay 0. Returns how many were kept.
std::size_t readValidSamples(std::FILE* file, bool plain, int maxval, std::uint8_t* samples,
                             std::size_t count) {
    std::size_t read = 0;
    if (plain) {
        int value = 0;
        while (read < count && readNumber(file, &value) && value <= maxval)
            samples[read++] = static_cast<std::uint8_t>(value);
        return read;
    }
    read = std::fread(samples, 1, count, file);
    const auto valid = static_cast<std::size_t>(
        std::find_if(samples, samples + read, [maxval](std::uint8_t s) { return s > maxval; }) -
        samples);
    std::fill(samples + valid, samples + read, std::uint8_t{0});
    return valid;
}

int readPGMsamples(std::FILE* file, bool plain, int maxval, Image* image) {
    const auto count =
        static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    const std::size_t read = readValidSamples(file, plain, maxval, image->data, count);
    // 255, the common maxval, leaves every sample as it is.
    if (maxval != 255) {
        for (std::size_t i = 0; i < read; ++i) image->data[i] = scaleSample(image->data[i], maxval);
    }
    return read == count ? kReadOk : kBadPixels;
}

}  // namespace

int readPGMheader(std::FILE* file, int* width, int* height, int* maxval) {
    if (!readNumber(file, width) || !readNumber(file, height) || !readNumber(file, maxval) ||
        *maxval == 0) {
        return kBadHeader;
    }
    return *maxval > 255 ? kUnsupportedDepth : kReadOk;
}

// The header after its magic number, "P5" (binary samples) or "P2" (plain), then the samples.
int readPGMafterMagic(std::FILE* file, bool plain, Image** out) {
    int width = 0;
    int height = 0;
    int maxval = 0;
    int result = readPGMheader(file, &width, &height, &maxval);
    Image* image = nullptr;
    if (result == kReadOk) result = newImage(width, height, 8, &image);
    if (result != kReadOk) return result;
    *out = image;
    return readPGMsamples(file, plain, maxval, image);
}

}  // namespace likeness
