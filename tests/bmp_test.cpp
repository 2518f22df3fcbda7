#include "bmp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iomanip>
#include <set>
#include <sstream>

#include "test_files.h"

namespace likeness {
namespace {

using test_files::Bytes;

struct Read {
    int code;
    ImagePtr image;
};

Read readFile(const std::string& path) {
    Image* image = nullptr;
    int code = readBMPfile(path.c_str(), &image);
    return {code, ImagePtr(image)};
}

Bytes pixelBytes(const Image& image) {
    const auto size = static_cast<std::size_t>(image.width) * image.height * (image.depth / 8);
    return Bytes(image.data, image.data + size);
}

// "=" and the bytes in hex, or "fnv:" and their FNV-1a 64 hash in hex.
std::string describe(const Bytes& bytes, bool hashed) {
    std::ostringstream out;
    out << std::hex << std::setfill('0');
    if (!hashed) {
        out << '=';
        for (int byte : bytes) out << std::setw(2) << byte;
        return out.str();
    }
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3u;
    out << "fnv:" << std::setw(16) << hash;
    return out.str();
}

// Every file in the data folder, crafted, from the bmpsuite corpus or written by common programs:
// its result code, and the pixels of the image handed over. Only a failure inside the pixels
// hands over a (partial) image, and the list gives its pixels.
TEST(ReadBMP, EveryListedFileGivesItsCodeAndPixels) {
    std::set<std::string> unlisted;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(LIKENESS_TEST_DATA)) {
        if (entry.path().extension() == ".bmp") unlisted.insert(entry.path().string());
    }
    for (const auto& [path, code, pixels] : test_files::listedFiles()) {
        unlisted.erase(path);
        Read read = readFile(path);
        EXPECT_EQ(read.code, code) << path;
        EXPECT_EQ(read.image != nullptr, code == kBMPOk || !pixels.empty()) << path;
        if (read.image && !pixels.empty() && pixels != "*") {
            EXPECT_EQ(describe(pixelBytes(*read.image), pixels[0] == 'f'), pixels) << path;
        }
    }
    EXPECT_TRUE(unlisted.empty()) << *unlisted.begin() << " is not listed";
    EXPECT_EQ(readFile("/nonexistent/likeness.bmp").code, kBMPCannotOpen);
}

TEST(ReadBMP, AFileCutAnywhereIsRefusedByWhereItEnds) {
    // Where the rows start in each: after the headers and 256 palette entries of 4 or 3 bytes.
    for (auto [name, rowsStart] : {std::pair{"crafted/grey2x2.bmp", 14 + 40 + 1024},
                                   {"crafted/core3x2.bmp", 14 + 12 + 768},
                                   {"crafted/rle-escapes.bmp", 14 + 40 + 1024},
                                   {"crafted/top-down.bmp", 14 + 40 + 1024},
                                   {"crafted/colour5x2.bmp", 14 + 40}}) {
        const Bytes whole = test_files::readBytes(test_files::dataPath(name));
        for (std::size_t length = 0; length < whole.size(); ++length) {
            const std::string cut = test_files::writeScratch(
                "cut.bmp", Bytes(whole.begin(), whole.begin() + static_cast<long>(length)));
            Read read = readFile(cut);
            const int size = static_cast<int>(length);
            const int expected = size < 2           ? kBMPEmpty
                                 : size < rowsStart ? kBMPBadHeader
                                                    : kBMPBadPixels;
            EXPECT_EQ(read.code, expected) << name << " cut at " << length;
            EXPECT_EQ(read.image != nullptr, size >= rowsStart) << name << " cut at " << length;
        }
    }
}

// The written bytes, header fields, palette, filler and all, match files built field by field.
TEST(WriteBMP, WritesTheExactBytesOfTheLayout) {
    const std::uint8_t greyLevels[] = {0, 53, 7, 60};                 // rows top first
    const std::uint8_t colours[] = {0, 0, 0, 53, 11, 1, 106, 22, 2};  // r, g, b
    ImagePtr grey(createImage(2, 2, 8));
    ImagePtr colour(createImage(3, 1, 24));
    std::memcpy(grey->data, greyLevels, sizeof greyLevels);
    std::memcpy(colour->data, colours, sizeof colours);
    for (auto [image, name] : {std::pair{grey.get(), "grey2x2"}, {colour.get(), "colour3x1"}}) {
        const std::string path = test_files::scratchPath(std::string(name) + ".bmp");
        ASSERT_EQ(writeBMPfile(path.c_str(), image), 0);
        EXPECT_EQ(test_files::readBytes(path),
                  test_files::readBytes(
                      test_files::dataPath("crafted/written-" + std::string(name) + ".bmp")));
    }
}

TEST(WriteBMP, EveryFillerWidthReadsBackUnchanged) {
    for (int depth : {8, 24}) {
        for (int width = 0; width <= 8; ++width) {
            ImagePtr image(createImage(width, 3, depth));
            for (int i = 0; i < width * 3 * depth / 8; ++i) {
                image->data[i] = static_cast<std::uint8_t>(i * 37 + depth);
            }
            const std::string path = test_files::scratchPath("round.bmp");
            ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);
            Read back = readFile(path);
            ASSERT_EQ(back.code, kBMPOk);
            EXPECT_EQ(back.image->width, width);
            EXPECT_EQ(pixelBytes(*back.image), pixelBytes(*image))
                << depth << " bits, width " << width;
        }
    }
}

TEST(WriteBMP, RefusalsAndFailedWritesReturnOne) {
    std::uint8_t bytes[8] = {};
    Image deep{2, 2, 16, bytes};
    // One pixel per row but four bytes per stored row: the file would pass 4 GiB.
    ImagePtr narrow(createImage(1, 1 << 30, 8));
    for (Image* image : {&deep, narrow.get()}) {
        const std::string path = test_files::scratchPath("refused.bmp");
        EXPECT_EQ(writeBMPfile(path.c_str(), image), 1);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    ImagePtr image(createImage(8, 8, 8));
    std::fill(image->data, image->data + 64, 0);
    EXPECT_EQ(writeBMPfile("/nonexistent/folder/out.bmp", image.get()), 1);
    EXPECT_EQ(writeBMPfile("/dev/full", image.get()), 1);
}

}  // namespace
}  // namespace likeness
