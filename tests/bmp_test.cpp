#include "bmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmp_bytes.h"

namespace likeness {
namespace {

using testing_bmp::Bytes;
using testing_bmp::Layout;

// Reads bytes through a file; the image, if any, is owned by the result.
struct ReadResult {
    int code;
    ImagePtr image;
};

ReadResult readBytes(const Bytes& bytes) {
    std::string path = testing_bmp::writeFile("read.bmp", bytes);
    Image* image = nullptr;
    int code = readBMPfile(path.c_str(), &image);
    return {code, ImagePtr(image)};
}

int codeOf(const Bytes& bytes) {
    return readBytes(bytes).code;
}

// A 2 x 2 grey file with levels 10, 20 (top row) and 30, 40 (bottom row).
Bytes smallGrey() {
    return testing_bmp::greyBmp(2, 2, {10, 20, 30, 40});
}

Layout layoutOf(int width, int height, std::uint32_t bits) {
    Layout layout;
    layout.width = width;
    layout.height = height;
    layout.bits = bits;
    return layout;
}

std::vector<int> greyLevels(const Image& image) {
    return std::vector<int>(image.data, image.data + image.width * image.height);
}

TEST(ReadBMP, ReportsFilesThatCannotBeOpenedOrAreEmpty) {
    Image* untouched = nullptr;
    EXPECT_EQ(readBMPfile("/nonexistent/likeness.bmp", &untouched), kBMPCannotOpen);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(codeOf({}), kBMPEmpty);
    EXPECT_EQ(codeOf({'B'}), kBMPEmpty);
    EXPECT_EQ(codeOf({'B', 'A', 0, 0}), kBMPBadHeader);
}

TEST(ReadBMP, AFileCutAnywhereIsRefusedByWhereItEnds) {
    Layout core = layoutOf(3, 2, 8);  // one filler byte per row
    core.headerSize = 12;
    core.palette = testing_bmp::greyPalette(3);
    core.rows = {1, 2, 3, 0, 4, 5, 6, 0};
    Layout colour = layoutOf(5, 2, 24);  // one filler byte per row
    colour.rows = Bytes(32, 9);
    for (const Layout& layout : {layoutOf(2, 2, 8), core, colour}) {
        Layout complete = layout;
        if (complete.bits == 8 && complete.palette.empty()) {
            complete.palette = testing_bmp::greyPalette();
            complete.rows = {30, 40, 0, 0, 10, 20, 0, 0};
        }
        const Bytes whole = testing_bmp::bmpBytes(complete);
        const std::size_t rowsStart = 14 + complete.headerSize + complete.palette.size();
        for (std::size_t length = 0; length < whole.size(); ++length) {
            ReadResult result = readBytes(Bytes(whole.begin(), whole.begin() + length));
            int expected = length < 2           ? kBMPEmpty
                           : length < rowsStart ? kBMPBadHeader
                                                : kBMPBadPixels;
            EXPECT_EQ(result.code, expected) << "cut at " << length;
            // Only a failure inside the rows hands over an image.
            EXPECT_EQ(result.image != nullptr, length >= rowsStart) << "cut at " << length;
        }
        EXPECT_EQ(codeOf(whole), kBMPOk);
    }
    ReadResult result = readBytes(smallGrey());
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{10, 20, 30, 40}));
}

TEST(ReadBMP, RefusesOtherHeaderSizesDepthsAndCompression) {
    for (std::uint32_t size : {0u, 16u, 64u, 108u, 124u}) {
        Layout layout = layoutOf(8, 8, 8);
        layout.headerSize = size;
        EXPECT_EQ(codeOf(testing_bmp::bmpBytes(layout)), kBMPBadHeader) << size;
    }
    for (std::uint32_t bits : {0u, 1u, 4u, 16u, 32u}) {
        EXPECT_EQ(codeOf(testing_bmp::bmpBytes(layoutOf(8, 8, bits))), kBMPUnsupportedBits) << bits;
    }
    Layout compressed = layoutOf(8, 8, 8);
    compressed.compression = 1;
    EXPECT_EQ(codeOf(testing_bmp::bmpBytes(compressed)), kBMPBadPixels);
    // The depth is checked before the compression.
    compressed.bits = 4;
    EXPECT_EQ(codeOf(testing_bmp::bmpBytes(compressed)), kBMPUnsupportedBits);
}

TEST(ReadBMP, RowsRunBottomUpAndSkipTheirFiller) {
    // 3 pixels of 8 bits: one filler byte per row.
    Layout grey = layoutOf(3, 2, 8);
    grey.palette = testing_bmp::greyPalette();
    grey.rows = {4, 5, 6, 0xAA, 1, 2, 3, 0xBB};
    ReadResult result = readBytes(testing_bmp::bmpBytes(grey));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{1, 2, 3, 4, 5, 6}));

    // 5 pixels of 24 bits: 15 bytes and one filler byte per row, stored blue, green, red.
    Layout colour = layoutOf(5, 2, 24);
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 5; ++x) {
            for (int c = 0; c < 3; ++c)
                colour.rows.push_back(static_cast<std::uint8_t>(100 * row + 10 * x + c));
        }
        colour.rows.push_back(0xCC);
    }
    result = readBytes(testing_bmp::bmpBytes(colour));
    ASSERT_EQ(result.code, kBMPOk);
    Pixel pixel{};
    EXPECT_EQ(getPixel(result.image.get(), 4, 1, &pixel), 1);  // first stored row is the bottom
    EXPECT_EQ(pixel.r, 42);
    EXPECT_EQ(pixel.g, 41);
    EXPECT_EQ(pixel.b, 40);
    EXPECT_EQ(getPixel(result.image.get(), 0, 0, &pixel), 1);
    EXPECT_EQ(pixel.r, 102);
    EXPECT_EQ(pixel.b, 100);

    // A file cut inside the filler after the last row.
    Bytes cut = testing_bmp::bmpBytes(grey);
    cut.pop_back();
    EXPECT_EQ(codeOf(cut), kBMPBadPixels);
}

TEST(ReadBMP, PaletteLengthFollowsTheColourCount) {
    // 16 entries whose red component is 10 * index; rows follow them directly.
    Layout sixteen = layoutOf(4, 1, 8);
    sixteen.coloursUsed = 16;
    for (int i = 0; i < 16; ++i)
        sixteen.palette.insert(sixteen.palette.end(), {0, 0, static_cast<std::uint8_t>(10 * i), 0});
    sixteen.rows = {0, 15, 3, 16};  // 16 is past the entries read: black
    ReadResult result = readBytes(testing_bmp::bmpBytes(sixteen));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{0, 150, 30, 0}));

    // A 24-bit file with a colour count skips that many entries before its rows.
    Layout colour = layoutOf(1, 1, 24);
    colour.coloursUsed = 2;
    colour.palette = Bytes(8, 0x55);
    colour.rows = {1, 2, 3, 0};
    result = readBytes(testing_bmp::bmpBytes(colour));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(result.image->data[0], 3);

    // More than 256 entries: the excess is read and dropped.
    Layout oversized = layoutOf(4, 1, 8);
    oversized.coloursUsed = 300;
    for (int i = 0; i < 300; ++i)
        oversized.palette.insert(oversized.palette.end(),
                                 {0, 0, static_cast<std::uint8_t>(255 - i % 256), 0});
    oversized.rows = {0, 1, 255, 44};
    result = readBytes(testing_bmp::bmpBytes(oversized));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{255, 254, 0, 211}));

    // A count of 2^31 or more is negative: no entries, every index black.
    Layout negative = layoutOf(4, 1, 8);
    negative.coloursUsed = 0x80000000u;
    negative.rows = {0, 1, 2, 3};
    result = readBytes(testing_bmp::bmpBytes(negative));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{0, 0, 0, 0}));

    // A huge count runs into the end of the file inside the palette.
    Layout huge = layoutOf(4, 1, 8);
    huge.coloursUsed = 0x12345678;
    huge.palette = testing_bmp::greyPalette();
    EXPECT_EQ(codeOf(testing_bmp::bmpBytes(huge)), kBMPBadHeader);
}

TEST(ReadBMP, CoreHeaderHasThreeBytePaletteEntriesAndUnsignedSides) {
    Layout core = layoutOf(2, 1, 8);
    core.headerSize = 12;
    core.palette = testing_bmp::greyPalette(3);
    core.rows = {200, 7, 0, 0};
    ReadResult result = readBytes(testing_bmp::bmpBytes(core));
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{200, 7}));

    // 65535 x 65535 at 24 bits is beyond the model: no image.
    Layout huge = layoutOf(65535, 65535, 24);
    huge.headerSize = 12;
    result = readBytes(testing_bmp::bmpBytes(huge));
    EXPECT_EQ(result.code, kBMPBadHeader);
    EXPECT_EQ(result.image, nullptr);
}

TEST(ReadBMP, SidesWithoutAnImageAreRefusedWithoutOne) {
    for (auto [width, height] :
         {std::pair{8, -8}, {-8, 8}, {8, INT32_MIN}, {3000000, 2000000}, {INT32_MAX, 2}}) {
        ReadResult result = readBytes(testing_bmp::bmpBytes(layoutOf(width, height, 24)));
        EXPECT_EQ(result.code, kBMPBadHeader) << width << " x " << height;
        EXPECT_EQ(result.image, nullptr);
    }
    // A large image announced, a few bytes given: the rows run out.
    Layout large = layoutOf(40000, 40000, 8);
    large.palette = testing_bmp::greyPalette();
    large.rows = Bytes(100, 1);
    EXPECT_EQ(codeOf(testing_bmp::bmpBytes(large)), kBMPBadPixels);

    // No columns but 2^31 - 1 rows: an empty image, read without walking the rows.
    ReadResult empty = readBytes(testing_bmp::bmpBytes(layoutOf(0, INT32_MAX, 24)));
    ASSERT_EQ(empty.code, kBMPOk);
    EXPECT_EQ(empty.image->height, INT32_MAX);
    const std::string copy = testing_bmp::tempPath("empty-copy.bmp");
    EXPECT_EQ(writeBMPfile(copy.c_str(), empty.image.get()), 0);
}

TEST(ReadBMP, ThePixelOffsetAndTrailingBytesAreIgnored) {
    Bytes bytes = smallGrey();
    bytes[10] = 0xFF;  // pixel offset far past the end
    bytes[2] = 1;      // wrong file size
    bytes.insert(bytes.end(), {9, 9, 9});
    ReadResult result = readBytes(bytes);
    ASSERT_EQ(result.code, kBMPOk);
    EXPECT_EQ(greyLevels(*result.image), (std::vector<int>{10, 20, 30, 40}));
}

TEST(FormatHelpers, StridesAndDefaultPaletteLengths) {
    EXPECT_EQ(getDIBxmax(3, 8), 4);
    EXPECT_EQ(getDIBxmax(8, 8), 8);
    EXPECT_EQ(getDIBxmax(5, 24), 16);
    EXPECT_EQ(getDIBxmax(4, 24), 12);
    EXPECT_EQ(getDIBxmax(9, 1), 4);
    EXPECT_EQ(getDIBxmax(33, 1), 8);
    EXPECT_EQ(getDIBxmax(9, 4), 8);
    EXPECT_EQ(getDIBxmax(3, 16), 8);
    EXPECT_EQ(getDIBxmax(3, 32), 12);
    EXPECT_EQ(getDIBxmax(7, 2), 7);
    EXPECT_EQ(getDIBxmax(0, 24), 0);
    EXPECT_EQ(getDIBxmax(INT32_MAX, 8), -1);
    EXPECT_EQ(getDIBxmax(INT32_MAX, 24), -1);
    EXPECT_EQ(getDIBxmax(-4, 8), -1);
    EXPECT_EQ(countOfDIBColorEntries(1), 2);
    EXPECT_EQ(countOfDIBColorEntries(4), 16);
    EXPECT_EQ(countOfDIBColorEntries(8), 256);
    EXPECT_EQ(countOfDIBColorEntries(24), 0);
}

TEST(FormatHelpers, FieldReadersAreLittleEndianAndSigned) {
    std::string path =
        testing_bmp::writeFile("fields.bin", {0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x01});
    std::FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::uint16_t word = 0;
    std::int32_t dword = 0;
    EXPECT_EQ(freadWORD(&word, file), 1);
    EXPECT_EQ(word, 0x1234);
    EXPECT_EQ(freadDWORD(&dword, file), 1);
    EXPECT_EQ(dword, -2);
    EXPECT_EQ(freadWORD(&word, file), 0);
    EXPECT_EQ(word, 0x1234);
    std::fclose(file);
}

}  // namespace
}  // namespace likeness
