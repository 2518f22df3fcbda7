#include "bmp.h"

#include <algorithm>
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

bool isIdentity(const GreyTable& grey) {
    for (int i = 0; i < kPaletteCapacity; ++i) {
        if (grey[static_cast<std::size_t>(i)] != i) return false;
    }
    return true;
}

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
    // The reader never seeks: rows are taken right after the palette, so the size and offset
    // fields are read and left unused.
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
    for (std::int32_t i = 0; i < length; ++i) {
        int blue = std::fgetc(file);
        int green = std::fgetc(file);
        int red = std::fgetc(file);
        if (blue == EOF || green == EOF || red == EOF) return kBMPBadHeader;
        // Entries after a Windows header carry a fourth, reserved byte.
        if (!header.core && std::fgetc(file) == EOF) return kBMPBadHeader;
        if (i < kPaletteCapacity) {
            (*grey)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(red);
        }
    }
    return kBMPOk;
}

// Reads one stored row into the image row it belongs to, turning it into image order. grey is
// null when the palette maps every index to itself, as a grey palette does.
int readRow(std::FILE* file, const GreyTable* grey, std::uint8_t* row, std::size_t pixels,
            int bits) {
    const std::size_t bytes = pixels * static_cast<std::size_t>(bits / 8);
    if (std::fread(row, 1, bytes, file) != bytes) return kBMPBadPixels;
    if (bits == 8) {
        if (grey != nullptr) {
            for (std::size_t x = 0; x < pixels; ++x) row[x] = (*grey)[row[x]];
        }
    } else {
        // Stored blue, green, red; kept red, green, blue.
        for (std::size_t x = 0; x < bytes; x += 3) std::swap(row[x], row[x + 2]);
    }
    return kBMPOk;
}

// Fills the image from the rows, which run from the bottom of the picture to the top. The sizes
// come from an image that createImage made, so they are within the model.
int readRows(std::FILE* file, const GreyTable* grey, Image* image) {
    const std::size_t pixels = static_cast<std::size_t>(image->width);
    const std::size_t rowBytes = pixels * static_cast<std::size_t>(image->depth / 8);
    const std::int64_t stride = rowStride(image->width, image->depth);
    // Rows of no bytes need no data, however many a header claims.
    if (stride == 0) return kBMPOk;
    const std::int64_t filler = stride - static_cast<std::int64_t>(rowBytes);
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
    return readRows(file, isIdentity(grey) ? nullptr : &grey, image);
}

constexpr std::uint32_t kFileHeaderSize = 14;
// Written as the plain number 300 in the field's unit, pixels per metre.
constexpr std::uint32_t kWrittenResolution = 300;
// Pixels converted per fwrite call when writing rows.
constexpr int kWriteChunkPixels = 1024;

// The two headers of a written file; true when the stream took every byte.
bool writeHeaders(std::FILE* file, const Image* image, std::uint32_t pixelOffset,
                  std::uint32_t fileSize) {
    bool ok = fwriteWORD(kSignature, file) && fwriteDWORD(fileSize, file) && fwriteWORD(0, file) &&
              fwriteWORD(0, file) && fwriteDWORD(pixelOffset, file);
    ok = ok && fwriteDWORD(kWindowsHeaderSize, file) &&
         fwriteDWORD(static_cast<std::uint32_t>(image->width), file) &&
         fwriteDWORD(static_cast<std::uint32_t>(image->height), file) && fwriteWORD(1, file) &&
         fwriteWORD(static_cast<unsigned>(image->depth), file);
    // Compression, image size, resolutions, colours used, colours important.
    for (std::uint32_t field : {0u, 0u, kWrittenResolution, kWrittenResolution, 0u, 0u}) {
        ok = ok && fwriteDWORD(field, file);
    }
    return ok;
}

// Entry i is grey level i; its reserved byte is i as well, which files written earlier carry.
bool writeGreyPalette(std::FILE* file) {
    for (int i = 0; i < kPaletteCapacity; ++i) {
        const std::uint8_t entry[4] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                                       static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)};
        if (std::fwrite(entry, 1, sizeof entry, file) != sizeof entry) return false;
    }
    return true;
}

// One image row in file order (blue, green, red for 24 bits), then zero filler up to stride.
bool writeRow(std::FILE* file, const Image* image, int y, std::int64_t stride) {
    const int bytesPerPixel = image->depth / 8;
    std::array<std::uint8_t, kWriteChunkPixels * 3> chunk;  // only the filled part is written
    for (int x0 = 0; x0 < image->width; x0 += kWriteChunkPixels) {
        const int count = std::min(kWriteChunkPixels, image->width - x0);
        std::uint8_t* out = chunk.data();
        for (int x = x0; x < x0 + count; ++x) {
            Pixel pixel{0, 0, 0};
            getPixel(image, x, y, &pixel);
            if (bytesPerPixel == 3) {
                *out++ = static_cast<std::uint8_t>(pixel.b);
                *out++ = static_cast<std::uint8_t>(pixel.g);
            }
            *out++ = static_cast<std::uint8_t>(pixel.r);
        }
        const std::size_t bytes = static_cast<std::size_t>(out - chunk.data());
        if (std::fwrite(chunk.data(), 1, bytes, file) != bytes) return false;
    }
    const std::int64_t filler = stride - std::int64_t{image->width} * bytesPerPixel;
    for (std::int64_t i = 0; i < filler; ++i) {
        if (std::fputc(0, file) == EOF) return false;
    }
    return true;
}

// Rows from the bottom of the picture to the top.
bool writeRows(std::FILE* file, const Image* image, std::int64_t stride) {
    if (stride == 0) return true;
    for (int y = image->height - 1; y >= 0; --y) {
        if (!writeRow(file, image, y, stride)) return false;
    }
    return true;
}

}  // namespace

int readBMPfile(const char* path, Image** out) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return kBMPCannotOpen;
    int result = readBMPstream(file, out);
    std::fclose(file);
    return result;
}

int writeBMPfile(const char* path, const Image* image) {
    if (image == nullptr || image->data == nullptr || image->width < 0 || image->height < 0) {
        return 1;
    }
    if (image->depth != 8 && image->depth != 24) return 1;
    const std::int64_t stride = rowStride(image->width, image->depth);
    const int paletteLength = image->depth == 8 ? kPaletteCapacity : 0;
    const std::int64_t pixelOffset = kFileHeaderSize + kWindowsHeaderSize + 4 * paletteLength;
    // At most 2^31 - 1 pixel bytes, but a narrow image's filler can take the file past what the
    // 32-bit size field can state.
    const std::int64_t fileSize = pixelOffset + stride * image->height;
    if (fileSize > UINT32_MAX) return 1;

    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return 1;
    bool ok = writeHeaders(file, image, static_cast<std::uint32_t>(pixelOffset),
                           static_cast<std::uint32_t>(fileSize));
    if (paletteLength > 0) ok = ok && writeGreyPalette(file);
    ok = ok && writeRows(file, image, stride);
    // A full disk often shows only when the buffer is flushed on closing.
    if (std::fclose(file) != 0) ok = false;
    return ok ? 0 : 1;
}

int fwriteWORD(unsigned value, std::FILE* stream) {
    return std::fputc(static_cast<int>(value & 0xFF), stream) != EOF &&
           std::fputc(static_cast<int>(value >> 8 & 0xFF), stream) != EOF;
}

int fwriteDWORD(std::uint32_t value, std::FILE* stream) {
    return fwriteWORD(value & 0xFFFF, stream) && fwriteWORD(value >> 16, stream);
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
