// Every file of the bmpsuite corpus: the supported ones read as the pictures they show, the rest
// are refused with their code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "bmp.h"

namespace likeness {
namespace {

const std::string kSuite = std::string(LIKENESS_TEST_DATA) + "/bmpsuite/";

// FNV-1a over the pixel bytes as ImageMagick decodes them: r, g, b for 24-bit files and the red
// component alone for 8-bit files, rows top first.
const std::map<std::string, std::uint64_t> kPictures = {
    {"g/pal8.bmp", 0x47cd40c738e9c4adu},          {"g/pal8-0.bmp", 0x47cd40c738e9c4adu},
    {"g/pal8os2.bmp", 0x47cd40c738e9c4adu},       {"q/pal8oversizepal.bmp", 0x47cd40c738e9c4adu},
    {"g/pal8nonsquare.bmp", 0x71a5b0b291c64d13u}, {"g/pal8w124.bmp", 0x8d038327f5903794u},
    {"g/pal8w125.bmp", 0x783a658b980f9beau},      {"g/pal8w126.bmp", 0x43015552d9951be0u},
    {"g/rgb24.bmp", 0x7cd8f819ae69b2afu},         {"g/rgb24pal.bmp", 0x7cd8f819ae69b2afu},
    {"q/rgb24largepal.bmp", 0x7cd8f819ae69b2afu},
};

// Files that read but show another picture than ImageMagick's, checked by their own tests.
const char* const kReadOtherwise[] = {"b/pal8badindex.bmp", "q/pal8offs.bmp"};

const std::map<std::string, int> kRefusals = {
    {"b/badbitcount.bmp", kBMPUnsupportedBits},
    {"b/badbitssize.bmp", kBMPUnsupportedBits},
    {"b/baddens1.bmp", kBMPUnsupportedBits},
    {"b/baddens2.bmp", kBMPUnsupportedBits},
    {"b/badfilesize.bmp", kBMPUnsupportedBits},
    {"b/badheadersize.bmp", kBMPBadHeader},
    {"b/badpalettesize.bmp", kBMPBadHeader},
    {"b/badplanes.bmp", kBMPUnsupportedBits},
    {"b/badrle.bmp", kBMPBadPixels},
    {"b/badwidth.bmp", kBMPUnsupportedBits},
    {"b/reallybig.bmp", kBMPBadHeader},
    {"b/rletopdown.bmp", kBMPBadPixels},
    {"b/shortfile.bmp", kBMPUnsupportedBits},
    {"g/pal1.bmp", kBMPUnsupportedBits},
    {"g/pal1bg.bmp", kBMPUnsupportedBits},
    {"g/pal1wb.bmp", kBMPUnsupportedBits},
    {"g/pal4.bmp", kBMPUnsupportedBits},
    {"g/pal4rle.bmp", kBMPUnsupportedBits},
    {"g/pal8rle.bmp", kBMPBadPixels},
    {"g/pal8topdown.bmp", kBMPBadHeader},
    {"g/pal8v4.bmp", kBMPBadHeader},
    {"g/pal8v5.bmp", kBMPBadHeader},
    {"g/rgb16-565.bmp", kBMPUnsupportedBits},
    {"g/rgb16-565pal.bmp", kBMPUnsupportedBits},
    {"g/rgb16.bmp", kBMPUnsupportedBits},
    {"g/rgb32.bmp", kBMPUnsupportedBits},
    {"g/rgb32bf.bmp", kBMPUnsupportedBits},
    {"q/pal1p1.bmp", kBMPUnsupportedBits},
    {"q/pal2.bmp", kBMPUnsupportedBits},
    {"q/pal4rletrns.bmp", kBMPUnsupportedBits},
    {"q/pal8os2sp.bmp", kBMPBadPixels},
    {"q/pal8os2v2-16.bmp", kBMPBadHeader},
    {"q/pal8os2v2.bmp", kBMPBadHeader},
    {"q/pal8rletrns.bmp", kBMPBadPixels},
    {"q/rgb16-231.bmp", kBMPUnsupportedBits},
    {"q/rgb24jpeg.bmp", kBMPBadHeader},
    {"q/rgb24lprof.bmp", kBMPBadHeader},
    {"q/rgb24png.bmp", kBMPBadHeader},
    {"q/rgb24prof.bmp", kBMPBadHeader},
    {"q/rgb32-111110.bmp", kBMPUnsupportedBits},
    {"q/rgb32bf-xbgr.bmp", kBMPBadHeader},
    {"q/rgb32fakealpha.bmp", kBMPUnsupportedBits},
    {"q/rgb32h52.bmp", kBMPBadHeader},
    {"q/rgba16-4444.bmp", kBMPBadHeader},
    {"q/rgba32.bmp", kBMPBadHeader},
    {"q/rgba32abf.bmp", kBMPUnsupportedBits},
    {"q/rgba32h56.bmp", kBMPBadHeader},
};

std::uint64_t pixelHash(const Image& image) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    const std::size_t bytes =
        static_cast<std::size_t>(image.width) * image.height * (image.depth / 8);
    for (std::size_t i = 0; i < bytes; ++i) {
        hash ^= image.data[i];
        hash *= 0x100000001b3u;
    }
    return hash;
}

ImagePtr readSuiteFile(const std::string& name, int* code) {
    Image* image = nullptr;
    *code = readBMPfile((kSuite + name).c_str(), &image);
    return ImagePtr(image);
}

TEST(Bmpsuite, SupportedFilesReadAsThePicturesTheyShow) {
    for (const auto& [name, hash] : kPictures) {
        int code = 0;
        ImagePtr image = readSuiteFile(name, &code);
        ASSERT_EQ(code, kBMPOk) << name;
        EXPECT_EQ(pixelHash(*image), hash) << name;
    }
}

TEST(Bmpsuite, OtherFilesAreRefusedWithTheirCode) {
    for (const auto& [name, expected] : kRefusals) {
        int code = 0;
        ImagePtr image = readSuiteFile(name, &code);
        EXPECT_EQ(code, expected) << name;
        // Only a failure inside the rows hands over a partial image; pal8os2sp is the one file
        // that gets that far (its 256-entry palette eats into the rows).
        EXPECT_EQ(image != nullptr, name == "q/pal8os2sp.bmp") << name;
    }
}

TEST(Bmpsuite, EveryFileOfTheSuiteHasAnExpectation) {
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kSuite)) {
        if (entry.path().extension() != ".bmp") continue;
        const std::string name = entry.path().lexically_relative(kSuite).string();
        const bool known = kPictures.count(name) + kRefusals.count(name) > 0 ||
                           std::find(std::begin(kReadOtherwise), std::end(kReadOtherwise), name) !=
                               std::end(kReadOtherwise);
        EXPECT_TRUE(known) << name;
        ++files;
    }
    EXPECT_EQ(files, 60);
}

TEST(Bmpsuite, IndicesPastThePaletteAreBlack) {
    // 101 palette entries; the stored rows (128 bytes each, bottom first) start at byte 458.
    std::ifstream in(kSuite + "b/pal8badindex.bmp", std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int code = 0;
    ImagePtr image = readSuiteFile("b/pal8badindex.bmp", &code);
    ASSERT_EQ(code, kBMPOk);
    int pastThePalette = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 127; ++x) {
            const auto index = static_cast<std::uint8_t>(file[458 + (63 - y) * 128 + x]);
            if (index < 101) continue;
            ++pastThePalette;
            EXPECT_EQ(image->data[y * 127 + x], 0) << x << ", " << y;
        }
    }
    EXPECT_EQ(pastThePalette, 4793);
}

TEST(Bmpsuite, RowsStartRightAfterThePaletteWhateverTheOffsetSays) {
    // pal8offs is pal8 with 100 bytes between palette and rows: they are read as the first
    // pixels, so every pixel of the bottom rows stands 100 places later than in pal8.
    int code = 0;
    ImagePtr plain = readSuiteFile("g/pal8.bmp", &code);
    ASSERT_EQ(code, kBMPOk);
    ImagePtr shifted = readSuiteFile("q/pal8offs.bmp", &code);
    ASSERT_EQ(code, kBMPOk);
    const int bottom = 63 * 127;
    for (int x = 100; x < 127; ++x) {
        EXPECT_EQ(shifted->data[bottom + x], plain->data[bottom + x - 100]) << x;
    }
}

}  // namespace
}  // namespace likeness
