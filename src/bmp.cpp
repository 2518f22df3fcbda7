#include "bmp.h"

#include <array>
#include <cstddef>
#include <utility>

namespace likeness {

namespace {

constexpr std::uint16_t kSignature = 0x4D42;  // "BM"
constexpr std::int32_t kWindowsHeaderSize = 40;
constexpr std::int32_t kCoreHeaderSize = 12;
// An 8-bit index reaches 256 entries; a longer table in a file is read and dropped.
constexpr int kPaletteCapacity = 256;

// What the reader keeps of the file and info headers.
struct Header {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bits = 0;
    std::int32_t compression = 0;
    std::int32_t coloursUsed = 0;
    bool core = false;  // 12-byte OS/2 header: 3-byte palette entries
};

// Grey level (the red component) of each palette entry. Entries the file does not supply stay
// 0, so every index has a defined value: black.
using GreyTable = std::array<std::uint8_t, kPaletteCapacity>;

std::int64_t rowStride(std::int64_t width, int bits) {
    switch (bits) {
        case 1:
            return ((width + 7) / 8 + 3) / 4 * 4;
        case 4:
            return ((width + 1) / 2 + 3) / 4 * 4;
        case 8:
            return (width + 3) / 4 * 4;
        case 16:
            return (width + 1) / 2 * 4;
        case 24:
            return (3 * width + 3) / 4 * 4;
        case 32:
            return width * 4;
        default:
            return width;
    }
}

int skipBytes(std::int64_t count, std::FILE* file) {
    for (std::int64_t i = 0; i < count; ++i) {
        if (std::fgetc(file) == EOF) return 0;
    }
    return 1;
}

int readFileHeader(std::FILE* file) {
    std::uint16_t signature = 0;
    if (!freadWORD(&signature, file)) return kBMPEmpty;
    if (signature != kSignature) return kBMPBadHeader;
    std::int32_t fileSize = 0;
    std::uint16_t reserved = 0;
    std::int32_t pixelOffset = 0;
    // The size and offset fields are often wrong in the wild; rows follow the palette directly.
    if (!freadDWORD(&fileSize, file) || !freadWORD(&reserved, file) ||
        !freadWORD(&reserved, file) || !freadDWORD(&pixelOffset, file)) {
        return kBMPBadHeader;
    }
    return kBMPOk;
}

int readCoreHeader(std::FILE* file, Header* header) {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bits = 0;
    if (!freadWORD(&width, file) || !freadWORD(&height, file) || !freadWORD(&planes, file) ||
        !freadWORD(&bits, file)) {
        return kBMPBadHeader;
    }
    header->width = width;
    header->height = height;
    header->bits = bits;
    header->core = true;
    return kBMPOk;
}

int readWindowsHeader(std::FILE* file, Header* header) {
    std::uint16_t planes = 0;
    std::uint16_t bits = 0;
    std::int32_t ignored = 0;
    if (!freadDWORD(&header->width, file) || !freadDWORD(&header->height, file) ||
        !freadWORD(&planes, file) || !freadWORD(&bits, file) ||
        !freadDWORD(&header->compression, file) || !freadDWORD(&ignored, file) ||
        !freadDWORD(&ignored, file) || !freadDWORD(&ignored, file) ||
        !freadDWORD(&header->coloursUsed, file) || !freadDWORD(&ignored, file)) {
        return kBMPBadHeader;
    }
    header->bits = bits;
    return kBMPOk;
}

int readInfoHeader(std::FILE* file, Header* header) {
    std::int32_t size = 0;
    if (!freadDWORD(&size, file)) return kBMPBadHeader;
    int result = kBMPBadHeader;
    if (size == kCoreHeaderSize) result = readCoreHeader(file, header);
    if (size == kWindowsHeaderSize) result = readWindowsHeader(file, header);
    if (result != kBMPOk) return result;
    if (header->bits != 8 && header->bits != 24) return kBMPUnsupportedBits;
    if (header->compression != 0) return kBMPBadPixels;
    return kBMPOk;
}

// Reads the whole palette, keeping the red component of the first 256 entries. A colour count
// of 2^31 or more is negative as a signed field and means no entries.
int readPalette(std::FILE* file, const Header& header, GreyTable* grey) {
    std::int32_t length = header.coloursUsed;
    if (length == 0) length = countOfDIBColorEntries(header.bits);
    const int entryBytes = header.core ? 3 : 4;
    for (std::int32_t i = 0; i < length; ++i) {
        int blue = std::fgetc(file);
        int green = std::fgetc(file);
        int red = std::fgetc(file);
        if (blue == EOF || green == EOF || red == EOF) return kBMPBadHeader;
        if (entryBytes == 4 && std::fgetc(file) == EOF) return kBMPBadHeader;
        if (i < kPaletteCapacity)
            (*grey)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(red);
    }
    return kBMPOk;
}

// Reads one stored row into the image row it belongs to, turning it into image order.
int readRow(std::FILE* file, const GreyTable& grey, std::uint8_t* row, std::size_t pixels,
            int bits) {
    const std::size_t bytes = pixels * static_cast<std::size_t>(bits / 8);
    if (std::fread(row, 1, bytes, file) != bytes) return kBMPBadPixels;
    if (bits == 8) {
        for (std::size_t x = 0; x < pixels; ++x) row[x] = grey[row[x]];
    } else {
        // Stored blue, green, red; kept red, green, blue.
        for (std::size_t x = 0; x < bytes; x += 3) std::swap(row[x], row[x + 2]);
    }
    return kBMPOk;
}

// Fills the image from the rows, which run from the bottom of the picture to the top.
int readRows(std::FILE* file, const GreyTable& grey, Image* image) {
    const std::size_t pixels = static_cast<std::size_t>(image->width);
    const std::size_t rowBytes = pixels * static_cast<std::size_t>(image->depth / 8);
    const std::int64_t filler =
        rowStride(image->width, image->depth) - static_cast<std::int64_t>(rowBytes);
    for (int y = image->height - 1; y >= 0; --y) {
        std::uint8_t* row = image->data + static_cast<std::size_t>(y) * rowBytes;
        if (readRow(file, grey, row, pixels, image->depth) != kBMPOk) return kBMPBadPixels;
        if (!skipBytes(filler, file)) return kBMPBadPixels;
    }
    return kBMPOk;
}

int readBMPstream(std::FILE* file, Image** out) {
    int result = readFileHeader(file);
    if (result != kBMPOk) return result;
    Header header;
    result = readInfoHeader(file, &header);
    if (result != kBMPOk) return result;
    GreyTable grey{};
    result = readPalette(file, header, &grey);
    if (result != kBMPOk) return result;
    // Top-down files (negative height) and sizes beyond the model have no image to fill.
    Image* image = createImage(header.width, header.height, header.bits);
    if (image == nullptr) return kBMPBadHeader;
    *out = image;
    return readRows(file, grey, image);
}

}  // namespace

int readBMPfile(const char* path, Image** out) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return kBMPCannotOpen;
    int result = readBMPstream(file, out);
    std::fclose(file);
    return result;
}

int freadWORD(std::uint16_t* value, std::FILE* stream) {
    int low = std::fgetc(stream);
    int high = std::fgetc(stream);
    if (low == EOF || high == EOF) return 0;
    *value = static_cast<std::uint16_t>(low | high << 8);
    return 1;
}

int freadDWORD(std::int32_t* value, std::FILE* stream) {
    std::uint32_t assembled = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int byte = std::fgetc(stream);
        if (byte == EOF) return 0;
        assembled |= static_cast<std::uint32_t>(byte) << shift;
    }
    // Conversion to a signed type wraps modulo 2^32: a stored side may be negative.
    *value = static_cast<std::int32_t>(assembled);
    return 1;
}

int countOfDIBColorEntries(int bits) {
    switch (bits) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

int getDIBxmax(int width, int bits) {
    if (width < 0) return -1;
    std::int64_t stride = rowStride(width, bits);
    return stride <= INT32_MAX ? static_cast<int>(stride) : -1;
}

}  // namespace likeness
