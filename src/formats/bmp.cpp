#include "likeness/bmp.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <utility>

#include "formats/reading.h"
#include "likeness/whole_file.h"

namespace likeness {

namespace {

constexpr std::uint16_t kSignature = 0x4D42;  // "BM"
constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::int32_t kCoreHeaderSize = 12;
constexpr std::int32_t kWindowsHeaderSize = 40;
constexpr std::int32_t kCompressionNone = 0;
constexpr std::int32_t kCompressionRLE8 = 1;
// An 8-bit index reaches 256 entries; a longer table in a file is read and dropped.
constexpr int kPaletteCapacity = 256;

// What the reader keeps of the file and info headers.
struct Header {
    std::uint32_t pixelOffset = 0;  // where the pixels start, counted from the file's first byte
    std::int32_t size = 0;          // of the info header
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative for rows stored top first
    int bits = 0;
    std::int32_t compression = kCompressionNone;
    std::int32_t coloursUsed = 0;
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

// Bytes in one stored row: the pixel bytes rounded up to a multiple of 4.
std::int64_t rowStride(std::int64_t width, int bits) {
    return (width * (bits / 8) + 3) / 4 * 4;
}

// The later Windows headers (52, 56, 108 and 124 bytes) begin with the 40-byte one and add
// colour masks, colour spaces and profiles, which grey levels do not need.
bool isWindowsHeaderSize(std::int32_t size) {
    return size == kWindowsHeaderSize || size == 52 || size == 56 || size == 108 || size == 124;
}

bool isTopDown(const Header& header) {
    return header.height < 0;
}

// Palette entries: 4 bytes (blue, green, red, reserved) after a Windows header, 3 after a core one.
int paletteEntryBytes(const Header& header) {
    return header.size == kCoreHeaderSize ? 3 : 4;
}

// The colours-used count, or the default for the depth. A count of 2^31 or more is negative as
// a signed field and means no entries.
std::int64_t paletteLength(const Header& header) {
    if (header.coloursUsed == 0) return countOfDIBColorEntries(header.bits);
    return std::max(header.coloursUsed, 0);
}

// Reads and drops count bytes; 0 when the file ends first.
int skipBytes(std::int64_t count, std::FILE* file) {
    std::array<std::uint8_t, 4096> dropped;
    while (count > 0) {
        const auto chunk = static_cast<std::size_t>(
            std::min<std::int64_t>(count, static_cast<std::int64_t>(dropped.size())));
        if (std::fread(dropped.data(), 1, chunk, file) != chunk) return 0;
        count -= static_cast<std::int64_t>(chunk);
    }
    return 1;
}

// The file header after its "BM" signature.
int readFileHeader(std::FILE* file, Header* header) {
    std::int32_t fileSize = 0;  // often wrong in real files, and never needed
    std::uint16_t reserved = 0;
    std::int32_t pixelOffset = 0;
    if (!freadDWORD(&fileSize, file) || !freadWORD(&reserved, file) ||
        !freadWORD(&reserved, file) || !freadDWORD(&pixelOffset, file)) {
        return kBadHeader;
    }
    header->pixelOffset = static_cast<std::uint32_t>(pixelOffset);
    return kReadOk;
}

int readCoreHeader(std::FILE* file, Header* header) {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bits = 0;
    if (!freadWORD(&width, file) || !freadWORD(&height, file) || !freadWORD(&planes, file) ||
        !freadWORD(&bits, file)) {
        return kBadHeader;
    }
    header->width = width;
    header->height = height;
    header->bits = bits;
    return kReadOk;
}

int readWindowsHeader(std::FILE* file, Header* header) {
    std::uint16_t planes = 0;
    std::uint16_t bits = 0;
    std::int32_t ignored = 0;
    if (!freadDWORD(&header->width, file) || !freadDWORD(&header->height, file) ||
        !freadWORD(&planes, file) || !freadWORD(&bits, file) ||
        !freadDWORD(&header->compression, file) || !freadDWORD(&ignored, file) ||
        !freadDWORD(&ignored, file) || !freadDWORD(&ignored, file) ||
        !freadDWORD(&header->coloursUsed, file) || !freadDWORD(&ignored, file) ||
        !skipBytes(header->size - kWindowsHeaderSize, file)) {
        return kBadHeader;
    }
    header->bits = bits;
    return kReadOk;
}

// What the fields say must be readable before anything is built on them: the depth, the
// compression, sides that an image can hold and, for run-length pixels, the limits' ceiling.
int checkHeader(const Header& header, const ReadLimits& limits) {
    if (header.bits != 8 && header.bits != 24) return kUnsupportedDepth;
    // Run-length rows always run bottom-up; a top-down stream has no defined meaning.
    const bool rle8 =
        header.compression == kCompressionRLE8 && header.bits == 8 && !isTopDown(header);
    if (header.compression != kCompressionNone && !rle8) return kBadPixels;
    // -2^31 has no positive counterpart to be the height of a top-down file.
    if (header.width < 0 || header.height == INT32_MIN) return kBadHeader;
    std::int64_t pixels = 0;
    std::int64_t bytes = 0;
    if (!checkedSize(header.width, std::abs(header.height), &pixels) ||
        !checkedSize(pixels, header.bits / 8, &bytes)) {
        return kBadHeader;
    }
    if (rle8 && !withinCeiling(header.width, header.height, limits)) return kBadHeader;
    return kReadOk;
}

int readInfoHeader(std::FILE* file, Header* header, const ReadLimits& limits) {
    if (!freadDWORD(&header->size, file)) return kBadHeader;
    int result = kBadHeader;
    if (header->size == kCoreHeaderSize) result = readCoreHeader(file, header);
    if (isWindowsHeaderSize(header->size)) result = readWindowsHeader(file, header);
    if (result != kReadOk) return result;
    return checkHeader(*header, limits);
}

// Reads the whole palette, keeping the red component of the first 256 entries.
int readPalette(std::FILE* file, const Header& header, GreyTable* grey) {
    const std::int64_t length = paletteLength(header);
    const auto entryBytes = static_cast<std::size_t>(paletteEntryBytes(header));
    for (std::int64_t i = 0; i < length; ++i) {
        std::uint8_t entry[4];  // blue, green, red and perhaps a reserved byte
        if (std::fread(entry, 1, entryBytes, file) != entryBytes) return kBadHeader;
        if (i < kPaletteCapacity) (*grey)[static_cast<std::size_t>(i)] = entry[2];
    }
    return kReadOk;
}

std::int64_t paletteEnd(const Header& header) {
    return kFileHeaderSize + header.size + paletteLength(header) * paletteEntryBytes(header);
}

// The pixels start where the offset field points when that lies past the palette; an offset
// inside the headers or the palette is taken to mean "right after the palette".
std::int64_t pixelStart(const Header& header) {
    return std::max(std::int64_t{header.pixelOffset}, paletteEnd(header));
}

// 0 when the file ends before the pixels.
int skipToPixels(std::FILE* file, const Header& header) {
    return skipBytes(pixelStart(header) - paletteEnd(header), file);
}

// Turns stored pixel bytes into image pixels in place: palette indices into grey levels (grey is
// null when the palette maps every index to itself), blue-green-red into red-green-blue. The
// bytes of a whole row were zeroed before count of them were read.
void convertPixels(std::uint8_t* bytes, std::size_t count, const GreyTable* grey, int bits) {
    if (bits == 8) {
        if (grey == nullptr) return;
        for (std::size_t i = 0; i < count; ++i) bytes[i] = (*grey)[bytes[i]];
    } else {
        const std::size_t whole = count / 3 * 3;
        for (std::size_t i = 0; i < whole; i += 3) std::swap(bytes[i], bytes[i + 2]);
        // A pixel cut short has its blue, perhaps its green, but no red: each keeps its own place.
        if (count > whole) {
            bytes[whole + 2] = bytes[whole];
            bytes[whole] = 0;
        }
    }
}

// Fills the image from uncompressed rows, stored bottom-up or (top-down files) top first, each
// read straight into its place. The sizes come from an image that createImage made, so they are
// within the model.
int readRows(std::FILE* file, const GreyTable* grey, bool topDown, Image* image) {
    const auto rowBytes = static_cast<std::size_t>(image->width) * (image->depth / 8);
    // Rows of no bytes need no data, however many a header claims.
    if (rowBytes == 0) return kReadOk;
    const std::int64_t filler =
        rowStride(image->width, image->depth) - static_cast<std::int64_t>(rowBytes);
    const auto height = static_cast<std::size_t>(image->height);
    for (std::size_t stored = 0; stored < height; ++stored) {
        std::uint8_t* row = image->data + (topDown ? stored : height - 1 - stored) * rowBytes;
        const std::size_t got = std::fread(row, 1, rowBytes, file);
        // Only the bytes read are converted: the rest of a cut image stays 0.
        convertPixels(row, got, grey, image->depth);
        if (got != rowBytes || !skipBytes(filler, file)) return kBadPixels;
    }
    return kReadOk;
}

// Where a run-length stream has got to: a column and a stored row, counted from the bottom.
// Both stop at the image's edge, past which everything is dropped, so that no count in a hostile
// stream can make them overflow.
struct RLEPosition {
    std::int64_t x = 0;
    std::int64_t row = 0;
};

// Stores one palette index at the position and moves right; past the edge it is dropped.
void putIndex(Image* image, RLEPosition* at, std::uint8_t index) {
    if (at->x < image->width && at->row < image->height) {
        const auto y = static_cast<std::size_t>(image->height - 1 - at->row);
        image->data[y * static_cast<std::size_t>(image->width) + static_cast<std::size_t>(at->x)] =
            index;
        ++at->x;
    }
}

void putRun(Image* image, RLEPosition* at, int count, std::uint8_t index) {
    const std::int64_t end = std::min<std::int64_t>(at->x + count, image->width);
    while (at->x < end) putIndex(image, at, index);
    at->x = end;
}

// A stream may end without its end-of-bitmap mark once the last row is complete.
int endOfStream(const Image* image, const RLEPosition& at) {
    const bool complete =
        at.row >= image->height || (at.row == image->height - 1 && at.x >= image->width);
    return complete ? kReadOk : kBadPixels;
}

// The escapes after a 0 byte: 0 ends the line, 1 the bitmap, 2 moves right and up by the next
// two bytes; n from 3 on is a run of n literal indices padded to an even length.
int readEscape(std::FILE* file, int escape, Image* image, RLEPosition* at) {
    if (escape == 0) {
        at->x = 0;
        at->row = std::min<std::int64_t>(at->row + 1, image->height);
    } else if (escape == 1) {
        at->x = 0;
        at->row = image->height;
    } else if (escape == 2) {
        const int dx = std::fgetc(file);
        const int dy = std::fgetc(file);
        if (dx == EOF || dy == EOF) return endOfStream(image, *at);
        at->x = std::min<std::int64_t>(at->x + dx, image->width);
        at->row = std::min<std::int64_t>(at->row + dy, image->height);
    } else {
        for (int i = 0; i < escape + escape % 2; ++i) {
            const int index = std::fgetc(file);
            if (index == EOF) return endOfStream(image, *at);
            if (i < escape) putRun(image, at, 1, static_cast<std::uint8_t>(index));
        }
    }
    return kReadOk;
}

// Decodes the stream's palette indices into the image, which starts as all index 0.
int decodeRLE8(std::FILE* file, Image* image, RLEPosition* at) {
    while (at->row < image->height) {
        const int count = std::fgetc(file);
        const int value = std::fgetc(file);
        if (count == EOF || value == EOF) return endOfStream(image, *at);
        if (count > 0) {
            putRun(image, at, count, static_cast<std::uint8_t>(value));
        } else {
            const int result = readEscape(file, value, image, at);
            if (result != kReadOk || value == 1) return result;
        }
    }
    return kReadOk;
}

// Run-length encoded 8-bit rows, bottom-up. Pixels the stream skips keep index 0 and are mapped
// through the palette (grey is null when it maps every index to itself) like any other; pixels
// after where a cut stream ended stay 0.
int readRLE8(std::FILE* file, const GreyTable* grey, Image* image) {
    RLEPosition at;
    const int result = decodeRLE8(file, image, &at);
    if (result == kReadOk) at = RLEPosition{0, image->height};
    // With a grey palette nothing needs mapping, so a short stream that skips most of a large
    // image costs no more than its own length.
    if (grey == nullptr) return result;
    const auto width = static_cast<std::size_t>(image->width);
    const auto height = static_cast<std::size_t>(image->height);
    const auto rowsDone = static_cast<std::size_t>(at.row);
    convertPixels(image->data + (height - rowsDone) * width, rowsDone * width, grey, 8);
    if (rowsDone < height) {
        convertPixels(image->data + (height - rowsDone - 1) * width, static_cast<std::size_t>(at.x),
                      grey, 8);
    }
    return result;
}

int readBMPheaders(std::FILE* file, const ReadLimits& limits, Header* header, GreyTable* grey) {
    int result = readFileHeader(file, header);
    if (result == kReadOk) result = readInfoHeader(file, header, limits);
    if (result == kReadOk) result = readPalette(file, *header, grey);
    return result;
}

}  // namespace

int readBMPlayout(std::FILE* file, const ReadLimits& limits, BMPLayout* layout) {
    Header header;
    const int result = readBMPheaders(file, limits, &header, &layout->grey);
    if (result != kReadOk) return result;
    if (header.compression != kCompressionNone) return kBadPixels;
    layout->width = header.width;
    layout->height = std::abs(header.height);
    layout->bits = header.bits;
    layout->topDown = isTopDown(header);
    layout->pixelStart = pixelStart(header);
    layout->stride = rowStride(header.width, header.bits);
    layout->identity = isIdentity(layout->grey);
    return kReadOk;
}

namespace {

int readSignatureFirst(std::FILE* file, Image** out, const ReadLimits& limits) {
    std::uint16_t signature = 0;
    if (!freadWORD(&signature, file)) return kEmptyFile;
    if (signature != kSignature) return kBadHeader;
    return readBMPafterSignature(file, out, limits);
}

}  // namespace

int readBMPstream(std::FILE* file, Image** out, const ReadLimits& limits) {
    return readStreamWith(file, out, limits, readSignatureFirst);
}

int readBMPstream(std::FILE* file, Image** out) {
    return readBMPstream(file, out, ReadLimits{});
}

int readBMPafterSignature(std::FILE* file, Image** out, const ReadLimits& limits) {
    Header header;
    GreyTable grey{};
    int result = readBMPheaders(file, limits, &header, &grey);
    if (result != kReadOk) return result;
    Image* image = nullptr;
    result = newImage(header.width, std::abs(header.height), header.bits, &image);
    if (result != kReadOk) return result;
    *out = image;
    if (!skipToPixels(file, header)) return kBadPixels;
    const GreyTable* mapping = isIdentity(grey) ? nullptr : &grey;
    if (header.compression == kCompressionRLE8) return readRLE8(file, mapping, image);
    return readRows(file, mapping, isTopDown(header), image);
}

namespace {

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

// Where a written file puts things.
struct WrittenLayout {
    std::int64_t stride = 0;
    int paletteEntries = 0;
    std::uint32_t pixelOffset = 0;
    std::uint32_t fileSize = 0;
};

// False for an image that cannot be written: none, another depth, or a file larger than the
// 32-bit size field can state. At most 2^31 - 1 pixel bytes, but a narrow image's filler can
// take the file past that.
bool planWrite(const Image* image, WrittenLayout* layout) {
    if (image == nullptr || image->data == nullptr || image->width < 0 || image->height < 0) {
        return false;
    }
    if (image->depth != 8 && image->depth != 24) return false;
    layout->stride = rowStride(image->width, image->depth);
    layout->paletteEntries = image->depth == 8 ? kPaletteCapacity : 0;
    const std::int64_t pixelOffset =
        kFileHeaderSize + kWindowsHeaderSize + 4 * layout->paletteEntries;
    const std::int64_t fileSize = pixelOffset + layout->stride * image->height;
    if (fileSize > UINT32_MAX) return false;
    layout->pixelOffset = static_cast<std::uint32_t>(pixelOffset);
    layout->fileSize = static_cast<std::uint32_t>(fileSize);
    return true;
}

}  // namespace

int readBMPfile(const char* path, Image** out, const ReadLimits& limits) {
    return readFileWith(path, out, limits, readBMPstream);
}

int readBMPfile(const char* path, Image** out) {
    return readBMPfile(path, out, ReadLimits{});
}

int writeBMPstream(std::FILE* stream, const Image* image) {
    WrittenLayout layout;
    if (!planWrite(image, &layout)) return 1;
    bool ok = writeHeaders(stream, image, layout.pixelOffset, layout.fileSize);
    if (layout.paletteEntries > 0) ok = ok && writeGreyPalette(stream);
    ok = ok && writeRows(stream, image, layout.stride);
    return ok ? 0 : 1;
}

int writeBMPfile(const char* path, const Image* image) {
    WrittenLayout layout;
    if (!planWrite(image, &layout)) return 1;  // before a file is created
    const bool written =
        writeWholeFile(path, [image](std::FILE* file) { return writeBMPstream(file, image) == 0; });
    return written ? 0 : 1;
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

}  // namespace likeness
