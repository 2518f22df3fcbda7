// The readers of the compressed formats: what bounds their work, and how each refuses files that
// are cut, corrupt or claim more than they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "likeness/image_file.h"
#include "test_files.h"

using namespace likeness;

namespace {

int readWithCeiling(const std::string& name, std::int64_t ceiling, ImagePtr* image = nullptr) {
    Image* raw = nullptr;
    const int code = readImageFile(test_files::dataPath(name).c_str(), &raw, ReadLimits{ceiling});
    ImagePtr read(raw);
    if (image != nullptr) *image = std::move(read);
    return code;
}

// A progressive JPEG file's scans each pass over the whole picture: scans times pixels may come to
// 32 passes over a picture at the ceiling. 500 scans of 128 x 128 pixels are within the budget of
// a ceiling of 500 / 32 such pictures, and not a pixel less; a lifted ceiling leaves the model's.
TEST(ReadCompressed, AProgressiveJPEGFilesScansAreBoundedByTheCeiling) {
    const std::string name = "crafted/jpeg-scans500-128x128.jpg";
    constexpr std::int64_t picture = 128 * 128;
    ImagePtr image;
    EXPECT_EQ(readWithCeiling(name, 500 * picture / 32, &image), kReadOk);
    EXPECT_TRUE(image != nullptr);
    EXPECT_EQ(readWithCeiling(name, 500 * picture / 32 - 1, &image), kDecoderRefused);
    EXPECT_TRUE(image == nullptr);
    EXPECT_EQ(readWithCeiling(name, 0), kReadOk);
    // A ceiling of exactly the picture allows 32 scans, the picture of 8 x 8 pixels many more.
    EXPECT_EQ(readWithCeiling(name, picture), kDecoderRefused);
    EXPECT_EQ(readWithCeiling("crafted/jpeg-scans2688.jpg", 64 * 84), kReadOk);
    EXPECT_EQ(readWithCeiling("crafted/jpeg-scans2688.jpg", 64 * 83), kDecoderRefused);
}

// Reads the file through a pipe, which cannot be moved back: the bytes that told the format are
// handed to its decoder again.
test_files::Read readThroughPipe(const std::string& name) {
    std::FILE* pipe = popen(("cat " + test_files::dataPath(name)).c_str(), "r");
    Image* image = nullptr;
    const int code = readImageStream(pipe, &image);
    pclose(pipe);
    return {code, ImagePtr(image)};
}

bool samePixels(const Image& a, const Image& b) {
    const std::size_t bytes = std::size_t{1} * a.width * a.height * (a.depth / 8);
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           std::memcmp(a.data, b.data, bytes) == 0;
}

// A file of each format and kind, whose signature is that many bytes long, and whether the
// decoder may do without some of its bytes (a TIFF file's directory may point to fields it only
// warns about when they are missing, and so may be read whole where it is cut).
struct FormatFile {
    const char* name;
    std::size_t signature;
    bool spareBytes;
};
const FormatFile kFormatFiles[] = {
    {"written/cwebp-q30-colour37x21.webp", 12, false},
    {"written/cwebp-lossless-grey37x21.webp", 12, false},
    {"written/cwebp-alpha-colour37x21.webp", 12, false},
    {"written/img2webp-lossy-animation-grey37x21.webp", 12, false},
    {"written/tiffcp-lzw-grey37x21.tif", 4, true},
    {"written/im-tiles16-colour37x21.tif", 4, true},
    {"written/pil-tiff_adobe_deflate-colour37x21.tif", 4, true},
    {"written/netpbm-16bit-grey37x21.tif", 4, true},
    {"written/avifenc-8bit-420-colour37x21.avif", 32, false},
    {"written/avifenc-12bit-400-colour37x21.avif", 28, false},
    {"written/im-grey37x21.avif", 28, false},
    {"written/cjxl-d1-colour37x21.jxl", 2, false},
    {"written/cjxl-lossless-16bit-grey37x21.jxl", 12, false},
    {"written/cjxl-container-grey37x21.jxl", 12, false},
};

// A JPEG XL file's first picture may be blended from many layers, each decoded whole: their pixels
// together may come to 32 pictures at the ceiling. 40 layers of 37 x 21 pixels are within the
// budget of a ceiling of 40 / 32 such pictures (rounded up to a pixel), and not a pixel less.
TEST(ReadCompressed, AJPEGXLFilesLayersAreBoundedByTheCeiling) {
    const std::string name = "written/cjxl-layers40-grey37x21.jxl";
    constexpr std::int64_t picture = 37 * 21;
    ImagePtr image;
    constexpr std::int64_t ceiling = (40 * picture + 31) / 32;
    EXPECT_EQ(readWithCeiling(name, ceiling, &image), kReadOk);
    EXPECT_TRUE(image != nullptr);
    EXPECT_EQ(readWithCeiling(name, ceiling - 1, &image), kDecoderRefused);
    EXPECT_TRUE(image == nullptr);
}

// Read from a pipe, each file gives what it gives from a file; cut anywhere after its signature it
// is refused by the decoder (or, where the decoder has spare bytes, gives the whole file's
// picture, never another), cut inside the signature it is of no known format, and a refused file
// hands over no image.
TEST(ReadCompressed, EveryFormatReadsFromAPipeAndRefusesAFileCutAnywhere) {
    for (const auto& [name, signature, spareBytes] : kFormatFiles) {
        const test_files::Read piped = readThroughPipe(name);
        ImagePtr file;
        ASSERT_EQ(readWithCeiling(name, kDefaultMaxCompressedPixels, &file), kReadOk) << name;
        ASSERT_EQ(piped.code, kReadOk) << name;
        EXPECT_TRUE(samePixels(*piped.image, *file)) << name;
        const test_files::Bytes bytes = test_files::readBytes(test_files::dataPath(name));
        std::size_t wholeReads = 0;
        for (std::size_t length = 1; length < bytes.size(); ++length) {
            const auto read = test_files::readMemory(bytes.data(), length);
            const int expected = length < 2           ? kEmptyFile
                                 : length < signature ? kBadHeader
                                                      : kDecoderRefused;
            if (spareBytes && read.code == kReadOk) {
                EXPECT_TRUE(samePixels(*read.image, *file)) << name << " cut at " << length;
                ++wholeReads;
                continue;
            }
            EXPECT_EQ(read.code, expected) << name << " cut at " << length;
            EXPECT_TRUE(read.image == nullptr) << name << " cut at " << length;
        }
        // Cut inside its pixels, a file is always refused.
        EXPECT_LT(wholeReads, bytes.size() / 4) << name;
    }
}

// A file whose decoder finds it broken is refused, handing over no image.
TEST(ReadCompressed, EveryFormatRefusesACorruptFile) {
    // Each file, a byte of its header, and what the byte is made.
    for (const auto& [name, offset, value] : {
             std::tuple{"written/cwebp-lossless-grey37x21.webp", std::size_t{20}, 0x00},  // VP8L
             {"written/cwebp-q30-grey37x21.webp", 23, 0x00},   // the start code of a key frame
             {"written/tiffcp-lzw-grey37x21.tif", 8, 0xFF},    // the first LZW code
             {"written/tiffcp-zip-colour37x21.tif", 8, 0x00},  // the zlib header
             {"written/avifenc-8bit-420-colour37x21.avif", 35, 0xFF},  // the meta box's size
             {"written/cjxl-d1-grey37x21.jxl", 40, 0xFF},  // within the first frame's groups
         }) {
        test_files::Bytes bytes = test_files::readBytes(test_files::dataPath(name));
        bytes[offset] = static_cast<std::uint8_t>(value);
        const auto read = test_files::readMemory(bytes);
        EXPECT_EQ(read.code, kDecoderRefused) << name;
        EXPECT_TRUE(read.image == nullptr) << name;
    }
}

// The offset of the first text in the bytes.
std::size_t find(const test_files::Bytes& bytes, std::string_view text) {
    return static_cast<std::size_t>(
        std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) - bytes.begin());
}

void putBigEndian32(test_files::Bytes* bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// An AVIF file is told by its brands, major or compatible: one whose file type box names "avif"
// only among its compatible brands is read, one that names it nowhere is of no known format.
TEST(ReadCompressed, AnAVIFFileIsToldByAnyOfItsBrands) {
    const test_files::Bytes avif =
        test_files::readBytes(test_files::dataPath("written/avifenc-8bit-444-grey37x21.avif"));
    test_files::Bytes compatible = avif;
    std::copy_n("mif1", 4, compatible.begin() + 8);
    EXPECT_EQ(test_files::readMemory(compatible).code, kReadOk);
    test_files::Bytes none = compatible;
    const std::size_t brands = find(none, "avif");
    ASSERT_LT(brands, 32u);
    std::copy_n("heic", 4, none.begin() + static_cast<std::ptrdiff_t>(brands));
    EXPECT_EQ(test_files::readMemory(none).code, kBadHeader);
}

// A file whose header claims a picture past the ceiling is refused with -10 before anything is
// decoded (the crafted WebP and TIFF files in expected.txt show it too), and one past what its
// library takes at all by the library, with -30.
TEST(ReadCompressed, EveryFormatRefusesAHugeHeaderBeforeDecoding) {
    // An AVIF file's sides lie in its image spatial extents box: version and flags, then width
    // and height. libavif takes no picture larger than 16384 x 16384.
    const test_files::Bytes avif =
        test_files::readBytes(test_files::dataPath("written/avifenc-8bit-444-grey37x21.avif"));
    const std::size_t extents = find(avif, "ispe") + 8;
    ASSERT_LT(extents, avif.size());
    for (const auto& [side, ceiling, code] :
         {std::tuple{16384u, std::int64_t{16384} * 16384 - 1, kBadHeader},
          {16385u, std::int64_t{0}, kDecoderRefused}}) {
        test_files::Bytes huge = avif;
        putBigEndian32(&huge, extents, side);
        putBigEndian32(&huge, extents + 4, side);
        const std::string path = test_files::scratchPath("huge.avif");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(huge.data()),
                   static_cast<std::streamsize>(huge.size()));
        Image* image = nullptr;
        EXPECT_EQ(readImageFile(path.c_str(), &image, ReadLimits{ceiling}), code) << side;
        EXPECT_EQ(image, nullptr);
    }
}

}  // namespace
