#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bmp.h"
#include "bmp_bytes.h"

namespace likeness {
namespace {

using testing_bmp::Bytes;
using testing_bmp::putDWORD;
using testing_bmp::putWORD;

Bytes fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The two headers the writer is expected to produce, field by field.
Bytes expectedHeaders(std::uint32_t fileSize, std::uint32_t offset, int width, int height,
                      int bits) {
    Bytes out{'B', 'M'};
    putDWORD(&out, fileSize);
    putWORD(&out, 0);
    putWORD(&out, 0);
    putDWORD(&out, offset);
    putDWORD(&out, 40);
    putDWORD(&out, static_cast<std::uint32_t>(width));
    putDWORD(&out, static_cast<std::uint32_t>(height));
    putWORD(&out, 1);
    putWORD(&out, static_cast<std::uint32_t>(bits));
    for (std::uint32_t field : {0u, 0u, 300u, 300u, 0u, 0u}) putDWORD(&out, field);
    return out;
}

// An image whose components at (x, y) are derived from x, y and the channel.
ImagePtr patterned(int width, int height, int depth) {
    ImagePtr image(createImage(width, height, depth));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel pixel{(x * 53 + y * 7) % 256, (x * 11 + y * 90) % 256, (x + y * 200) % 256};
            setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

TEST(WriteBMP, GreyImageBytesAreExact) {
    ImagePtr image = patterned(2, 2, 8);  // rows 0, 53 (top) and 7, 60 (bottom)
    const std::string path = testing_bmp::tempPath("grey2x2.bmp");
    ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);

    Bytes expected = expectedHeaders(1078 + 8, 1078, 2, 2, 8);
    for (int i = 0; i < 256; ++i) expected.insert(expected.end(), 4, static_cast<std::uint8_t>(i));
    expected.insert(expected.end(), {7, 60, 0, 0, 0, 53, 0, 0});
    EXPECT_EQ(fileBytes(path), expected);
}

TEST(WriteBMP, ColourImageBytesAreExact) {
    ImagePtr image = patterned(3, 1, 24);
    const std::string path = testing_bmp::tempPath("colour3x1.bmp");
    ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);

    Bytes expected = expectedHeaders(54 + 12, 54, 3, 1, 24);
    expected.insert(expected.end(), {0, 0, 0, 1, 11, 53, 2, 22, 106, 0, 0, 0});
    EXPECT_EQ(fileBytes(path), expected);
}

TEST(WriteBMP, EmptyImagesGetHeadersAndPaletteOnly) {
    ImagePtr image(createImage(0, 5, 8));
    const std::string path = testing_bmp::tempPath("empty.bmp");
    ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);
    EXPECT_EQ(fileBytes(path).size(), 1078u);
}

TEST(WriteBMP, EveryFillerWidthReadsBackUnchanged) {
    for (int depth : {8, 24}) {
        for (int width = 1; width <= 8; ++width) {
            ImagePtr image = patterned(width, 3, depth);
            const std::string path = testing_bmp::tempPath("round.bmp");
            ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);
            Image* raw = nullptr;
            ASSERT_EQ(readBMPfile(path.c_str(), &raw), kBMPOk);
            ImagePtr back(raw);
            ASSERT_EQ(back->width, width);
            ASSERT_EQ(back->height, 3);
            ASSERT_EQ(back->depth, depth);
            const auto bytes = static_cast<std::size_t>(width * 3 * depth / 8);
            EXPECT_TRUE(std::equal(image->data, image->data + bytes, back->data))
                << depth << " bits, width " << width;
        }
    }
}

TEST(WriteBMP, RefusalsAndFailedWritesReturnOne) {
    std::uint8_t bytes[8] = {};
    Image deep{2, 2, 16, bytes};
    const std::string path = testing_bmp::tempPath("deep.bmp");
    EXPECT_EQ(writeBMPfile(path.c_str(), &deep), 1);
    EXPECT_FALSE(std::filesystem::exists(path));

    ImagePtr image = patterned(8, 8, 8);
    EXPECT_EQ(writeBMPfile("/nonexistent/folder/out.bmp", image.get()), 1);
    EXPECT_EQ(writeBMPfile("/dev/full", image.get()), 1);
    ImagePtr small = patterned(1, 1, 24);
    EXPECT_EQ(writeBMPfile("/dev/full", small.get()), 1);

    // One pixel per row but four bytes per stored row: the file would pass 4 GiB.
    ImagePtr narrow(createImage(1, 1 << 30, 8));
    ASSERT_NE(narrow, nullptr);
    const std::string huge = testing_bmp::tempPath("huge.bmp");
    EXPECT_EQ(writeBMPfile(huge.c_str(), narrow.get()), 1);
    EXPECT_FALSE(std::filesystem::exists(huge));
}

TEST(WriteBMP, FieldWritersAreLittleEndian) {
    const std::string path = testing_bmp::tempPath("fields.bin");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(fwriteWORD(0xABCD1234u, file), 1);
    EXPECT_EQ(fwriteDWORD(0x01020304u, file), 1);
    std::fclose(file);
    EXPECT_EQ(fileBytes(path), (Bytes{0x34, 0x12, 4, 3, 2, 1}));
}

}  // namespace
}  // namespace likeness
