#include "likeness/image_file.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// A file is read through a buffer this large: few system calls for a large image, and a buffer
// small enough to stay in the cache while rows are copied out of it.
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;

int readAnyFormat(std::FILE* stream, Image** out, const ReadLimits& limits) {
    const int first = std::fgetc(stream);
    const int second = std::fgetc(stream);
    if (first == EOF || second == EOF) return kEmptyFile;
    return readFormat(formatOf(first, second), stream, out, limits);
}

}  // namespace

Format formatOf(int first, int second) {
    if (first == 'B' && second == 'M') return Format::kBMP;
    if (first == 0x89 && second == 'P') return Format::kPNG;
    if (first == 0xFF && second == 0xD8) return Format::kJPEG;
    if (first == 'P' && second == '5') return Format::kPGM;
    if (first == 'P' && second == '2') return Format::kPlainPGM;
    return Format::kUnknown;
}

int readFormat(Format format, std::FILE* stream, Image** out, const ReadLimits& limits) {
    switch (format) {
        case Format::kBMP:
            return readBMPafterSignature(stream, out, limits);
        case Format::kPNG:
            return readAllRows(openPNGrows, stream, out, limits);
        case Format::kJPEG:
            return readAllRows(openJPEGrows, stream, out, limits);
        case Format::kPGM:
        case Format::kPlainPGM:
            return readPGMafterMagic(stream, format == Format::kPlainPGM, out);
        default:
            return kBadHeader;
    }
}

int newImage(std::int64_t width, std::int64_t height, int depth, Image** out) {
    std::int64_t bytes = 0;
    if (width > INT32_MAX || height > INT32_MAX || !checkedSize(width, height, &bytes) ||
        !checkedSize(bytes, depth / 8, &bytes)) {
        return kBadHeader;
    }
    *out = createImage(static_cast<int>(width), static_cast<int>(height), depth);
    return *out == nullptr ? kOutOfMemory : kReadOk;
}

bool withinCeiling(std::int64_t width, std::int64_t height, const ReadLimits& limits) {
    const std::int64_t ceiling = limits.maxCompressedPixels;
    return ceiling <= 0 || height == 0 || width <= ceiling / height;
}

int readStreamWith(std::FILE* stream, Image** out, const ReadLimits& limits, FormatReader read) {
    Image* image = nullptr;
    int result = kOutOfMemory;
    // The readers' own buffers come from the C++ library, whose failure is an exception; a
    // reader's caller gets a result code, never one.
    try {
        result = read(stream, &image, limits);
    } catch (const std::bad_alloc&) {
        disposeImage(image);
        return kOutOfMemory;
    }
    if (std::ferror(stream)) {
        disposeImage(image);
        return kCannotOpen;
    }
    if (image != nullptr) *out = image;
    return result;
}

int readFileWith(const char* path, Image** out, const ReadLimits& limits, FormatReader read) {
    errno = 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return errno == ENOMEM ? kOutOfMemory : kCannotOpen;
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kFileBuffer]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, kFileBuffer);
    const int result = read(file, out, limits);
    std::fclose(file);
    return result;
}

int readImageStream(std::FILE* stream, Image** out, const ReadLimits& limits) {
    return readStreamWith(stream, out, limits, readAnyFormat);
}

int readImageStream(std::FILE* stream, Image** out) {
    return readImageStream(stream, out, ReadLimits{});
}

int readImageFile(const char* path, Image** out, const ReadLimits& limits) {
    return readFileWith(path, out, limits, readImageStream);
}

int readImageFile(const char* path, Image** out) {
    return readImageFile(path, out, ReadLimits{});
}

ReadLimits limitsFromEnvironment() {
    ReadLimits limits;
    const char* text = std::getenv("LIKENESS_MAX_PIXELS");
    if (text == nullptr || !std::isdigit(static_cast<unsigned char>(text[0]))) return limits;
    const char* end = text + std::strlen(text);
    std::int64_t pixels = 0;
    const auto [stop, error] = std::from_chars(text, end, pixels);
    if (error == std::errc() && stop == end) limits.maxCompressedPixels = pixels;
    return limits;
}

}  // namespace likeness
