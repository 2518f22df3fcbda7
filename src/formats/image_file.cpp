#include "likeness/image_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <utility>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// A file is read through a buffer this large: few system calls for a large image, and a buffer
// small enough to stay in the cache while rows are copied out of it.
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;

int readAnyFormat(std::FILE* file, Image** out, const ReadLimits& limits) {
    PeekedStream stream(file);
    const Format format = stream.tell();
    if (stream.peeked() < 2) return kEmptyFile;
    return readFormat(format, &stream, out, limits);
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

bool startsWith(const std::uint8_t* bytes, std::size_t count, std::string_view text) {
    return count >= text.size() && std::memcmp(bytes, text.data(), text.size()) == 0;
}

// JPEG XL's container: a signature box of 12 bytes.
constexpr std::string_view kJXLContainer{"\0\0\0\x0cJXL \r\n\x87\n", 12};

}  // namespace

Format PeekedStream::tell() {
    if (!peekTo(2)) return Format::kUnknown;
    const int first = bytes_[0];
    const int second = bytes_[1];
    if (first == 'B' && second == 'M') return Format::kBMP;
    if (first == 0x89 && second == 'P') return Format::kPNG;
    if (first == 0xFF && second == 0xD8) return Format::kJPEG;
    if (first == 'P' && second == '5') return Format::kPGM;
    if (first == 'P' && second == '2') return Format::kPlainPGM;
    if (first == 0xFF && second == 0x0A) return Format::kJXL;
    return tellLonger();
}

// Only files whose first two bytes may start a longer signature are read further.
Format PeekedStream::tellLonger() {
    const std::uint8_t* bytes = bytes_.data();
    if (bytes[0] == 'R' && bytes[1] == 'I') {
        return peekTo(12) && startsWith(bytes, 4, "RIFF") && startsWith(bytes + 8, 4, "WEBP")
                   ? Format::kWebP
                   : Format::kUnknown;
    }
    if ((bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M')) {
        const bool little = bytes[0] == 'I';
        if (!peekTo(4)) return Format::kUnknown;
        const int version = little ? bytes[2] | bytes[3] << 8 : bytes[2] << 8 | bytes[3];
        return version == 42 || version == 43 ? Format::kTIFF : Format::kUnknown;
    }
    if (bytes[0] != 0 || bytes[1] != 0 || !peekTo(12)) return Format::kUnknown;
    if (startsWith(bytes, 12, kJXLContainer)) return Format::kJXL;
    return isAVIF() ? Format::kAVIF : Format::kUnknown;
}

// A file type box ("ftyp": size, type, major brand, minor version, compatible brands) naming the
// AVIF brand of a still picture or of a sequence, as its major brand or a compatible one.
bool PeekedStream::isAVIF() {
    const std::uint32_t size = bigEndian32(bytes_.data());
    if (!startsWith(bytes_.data() + 4, 4, "ftyp") || size < 16 || size > kMostPeeked ||
        !peekTo(size)) {
        return false;
    }
    for (std::size_t brand = 8; brand + 4 <= size; brand += brand == 8 ? 8 : 4) {
        if (startsWith(bytes_.data() + brand, 4, "avif") ||
            startsWith(bytes_.data() + brand, 4, "avis"))
            return true;
    }
    return false;
}

bool PeekedStream::peekTo(std::size_t count) {
    if (count_ < count) count_ += std::fread(bytes_.data() + count_, 1, count - count_, file_);
    return count_ >= count;
}

std::size_t PeekedStream::read(void* out, std::size_t length) {
    auto* bytes = static_cast<std::uint8_t*>(out);
    const std::size_t replayed = std::min(length, count_ - handed_);
    std::memcpy(bytes, bytes_.data() + handed_, replayed);
    handed_ += replayed;
    if (replayed == length) return length;
    return replayed + std::fread(bytes + replayed, 1, length - replayed, file_);
}

int readFormat(Format format, PeekedStream* stream, Image** out, const ReadLimits& limits) {
    switch (format) {
        case Format::kBMP:
            return readBMPafterSignature(stream->file(), out, limits);
        case Format::kPGM:
        case Format::kPlainPGM:
            return readPGMafterMagic(stream->file(), format == Format::kPlainPGM, out);
        case Format::kUnknown:
            return kBadHeader;
        default:
            return readAllRows(format, stream, out, limits);
    }
}

int openRows(Format format, PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out) {
    switch (format) {
        case Format::kPNG:
            return openPNGrows(stream->file(), limits, out);
        case Format::kJPEG:
            return openJPEGrows(stream->file(), limits, out);
        case Format::kPGM:
        case Format::kPlainPGM:
            return openPGMrows(stream->file(), format == Format::kPlainPGM, out);
#if LIKENESS_HAS_WEBP
        case Format::kWebP:
            return openWebProws(stream, limits, out);
#endif
#if LIKENESS_HAS_TIFF
        case Format::kTIFF:
            return openTIFFrows(stream, limits, out);
#endif
#if LIKENESS_HAS_AVIF
        case Format::kAVIF:
            return openAVIFrows(stream, limits, out);
#endif
#if LIKENESS_HAS_JXL
        case Format::kJXL:
            return openJXLrows(stream, limits, out);
#endif
        case Format::kBMP:
        case Format::kUnknown:
            return kBadHeader;
        default:
            return kUnsupportedDepth;
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

std::int64_t ceilingInForce(const ReadLimits& limits) {
    return limits.maxCompressedPixels > 0 ? limits.maxCompressedPixels : INT32_MAX;
}

int readWholeStream(PeekedStream* stream, std::int64_t limit, std::vector<std::uint8_t>* bytes) {
    constexpr std::size_t kChunk = std::size_t{64} << 10;
    for (;;) {
        const std::size_t held = bytes->size();
        if (static_cast<std::int64_t>(held) > limit) return kBadHeader;
        bytes->resize(held + kChunk);
        const std::size_t read = stream->read(bytes->data() + held, kChunk);
        bytes->resize(held + read);
        if (read == 0) return kReadOk;
    }
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
