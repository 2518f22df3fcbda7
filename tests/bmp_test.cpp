#include "likeness/bmp.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

#include "likeness/image_file.h"
#include "test_files.h"

namespace likeness {
namespace {

using test_files::Bytes;
using test_files::readMemory;

Bytes pixelBytes(const Image& image) {
    return Bytes(image.data,
                 image.data + std::size_t{1} * image.width * image.height * (image.depth / 8));
}

// "=" and the bytes in hex, or "fnv:" and their FNV-1a 64 hash.
std::string describe(const Bytes& bytes, bool hashed) {
    std::ostringstream out;
    out << std::hex << std::setfill('0') << (hashed ? "fnv:" : "=");
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
        if (!hashed) out << std::setw(2) << int{byte};
    }
    if (hashed) out << std::setw(16) << hash;
    return out.str();
}

// The pixels a listed file must give here. libjxl's lossy decoding rounds as the processor's
// vector unit does, so those files' pixels are listed as the reference decoder gives them on
// x86-64 ("@x86_64" after them); elsewhere they are not compared.
std::string onThisProcessor(const std::string& pixels) {
#if defined(__x86_64__)
    constexpr std::string_view kProcessor = "x86_64";
#else
    constexpr std::string_view kProcessor = "";
#endif
    const std::size_t at = pixels.find('@');
    if (at == std::string::npos) return pixels;
    return pixels.substr(at + 1) == kProcessor ? pixels.substr(0, at) : "*";
}

// Every image file in the data folder, crafted, from the bmpsuite corpus or written by common
// programs, is listed in expected.txt with the code reading it gives and, when an image is handed
// over (a failure inside the pixels hands over the partial image), its pixels. They are read under
// a low limit of open files, which a reader that leaves one open soon meets.
TEST(ReadImage, EveryListedFileGivesItsCodeAndPixels) {
    std::set<std::string> unlisted;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(LIKENESS_TEST_DATA)) {
        const auto extension = entry.path().extension();
        if (extension == ".bmp" || extension == ".png" || extension == ".pgm" ||
            extension == ".jpg" || extension == ".webp" || extension == ".tif" ||
            extension == ".avif" || extension == ".jxl") {
            unlisted.insert(entry.path().string());
        }
    }
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit low{32, limit.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    std::ifstream list(test_files::dataPath("expected.txt"));
    for (std::string line, name, pixels; std::getline(list, line);) {
        std::istringstream fields(line);
        int code = 0;
        if (!(fields >> name >> code) || name[0] == '#') continue;
        pixels.clear();
        fields >> pixels;
        pixels = onThisProcessor(pixels);
        unlisted.erase(test_files::dataPath(name));
        Image* image = nullptr;
        EXPECT_EQ(readImageFile(test_files::dataPath(name).c_str(), &image), code) << name;
        const ImagePtr read(image);
        EXPECT_EQ(read != nullptr, code == kReadOk || !pixels.empty()) << name;
        if (read && !pixels.empty() && pixels != "*") {
            EXPECT_EQ(describe(pixelBytes(*read), pixels[0] == 'f'), pixels) << name;
        }
    }
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_TRUE(unlisted.empty()) << *unlisted.begin() << " is not listed";
    Image* none = nullptr;
    EXPECT_EQ(readImageFile("/nonexistent/likeness.bmp", &none), kCannotOpen);
}

// A BMP file cut in its headers or palette is a bad header, one cut in its pixels hands over the
// partial image; a PNG file cut after its first two bytes is refused by the decoder (but for the
// checksum of its empty end chunk, which libspng does not read), and so is a JPEG file cut
// anywhere, even in its end marker.
TEST(ReadImage, AFileCutAnywhereIsRefusedByWhereItEnds) {
    // Each file, where its pixels (or its PNG chunks) start, and the code of a cut after that.
    for (auto [name, start, cut] :
         {std::tuple{"crafted/grey2x2.bmp", std::size_t{14 + 40 + 1024}, int{kBadPixels}},
          {"crafted/core3x2.bmp", 14 + 12 + 768, kBadPixels},
          {"crafted/colour5x2.bmp", 14 + 40, kBadPixels},
          {"crafted/rle-escapes.bmp", 14 + 40 + 1024, kBadPixels},
          {"crafted/top-down.bmp", 14 + 40 + 1024, kBadPixels},
          {"written/netpbm-interlaced-grey13x7.png", 2, kDecoderRefused},
          {"written/cjpeg-progressive-grey13x7.jpg", 2, kDecoderRefused},
          {"written/cjpeg-restart-colour37x21.jpg", 2, kDecoderRefused}}) {
        const Bytes whole = test_files::readBytes(test_files::dataPath(name));
        const std::size_t end = whole.size() - (std::string_view(name).ends_with(".png") ? 4 : 0);
        for (std::size_t length = 1; length < end; ++length) {
            const auto read = readMemory(whole.data(), length);
            const int expected = length < 2 ? kEmptyFile : length < start ? kBadHeader : cut;
            EXPECT_EQ(read.code, expected) << name << " cut at " << length;
            EXPECT_EQ(read.image != nullptr, expected == kBadPixels)
                << name << " cut at " << length;
        }
    }
}

// The BMP entry points read BMP files as readImageFile does and refuse other formats; a compressed
// picture past the ceiling is refused before it is decoded, or decoded once the ceiling is lifted;
// a folder, and a stream that meets a read error, is a file that cannot be read, not one that
// ended.
TEST(ReadImage, EveryEntryPointKeepsTheLimitsAndTellsErrorsFromEnds) {
    // Reads the file at path by name (readers 0 and 1) or from the open file (2 and 3).
    const auto read = [](int reader, const std::string& path, const ReadLimits& limits) {
        Image* image = nullptr;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        const int code = reader == 0   ? readImageFile(path.c_str(), &image, limits)
                         : reader == 1 ? readBMPfile(path.c_str(), &image, limits)
                         : reader == 2 ? readImageStream(file, &image, limits)
                                       : readBMPstream(file, &image, limits);
        std::fclose(file);
        return test_files::Read{code, ImagePtr(image)};
    };
    for (auto [name, pixels, bmp, compressed] :
         {std::tuple{"crafted/rle-escapes.bmp", 12, true, true},
          {"crafted/grey2x2.bmp", 4, true, false},
          {"written/pil-grey13x7.png", 91, false, true},
          {"crafted/pgm-plain.pgm", 3, false, false}}) {
        for (int reader = 0; reader < 4; ++reader) {
            EXPECT_EQ(read(reader, LIKENESS_TEST_DATA, {}).code, kCannotOpen) << reader;
            for (const std::int64_t ceiling : {pixels - 1, pixels}) {
                const bool refused = (reader % 2 == 1 && !bmp) || (compressed && ceiling < pixels);
                const auto [code, image] = read(reader, test_files::dataPath(name), {ceiling});
                EXPECT_EQ(code, refused ? kBadHeader : kReadOk) << name << ", " << reader;
                EXPECT_EQ(image ? image->width * image->height : 0, refused ? 0 : pixels) << name;
            }
        }
    }
    EXPECT_EQ(read(2, test_files::dataPath("crafted/png-bomb.png"), {0}).code, kDecoderRefused);
    // Beyond the image model a picture is refused before it is decoded, ceiling or none. A palette
    // picture is decoded a row at a time, so its 8-bit levels are all that must fit the model:
    // this one does, and then its missing pixels are the decoder's refusal.
    for (const auto& [name, code] : {std::pair{"crafted/jpeg-beyond-model.jpg", kBadHeader},
                                     {"crafted/png-huge.png", kBadHeader},
                                     {"crafted/png-palette-30000x30000.png", kDecoderRefused}}) {
        for (int reader : {0, 2})
            EXPECT_EQ(read(reader, test_files::dataPath(name), {0}).code, code) << name;
    }
}

// The written bytes, header fields, palette and zero filler, match files built field by field;
// rows far wider than the writer's buffer read back unchanged; what cannot be written whole is
// reported.
TEST(WriteBMP, WritesTheLayoutExactlyAndReportsWhatItCannotWrite) {
    const std::uint8_t levels[] = {0, 53, 7, 60};                     // rows top first
    const std::uint8_t colours[] = {0, 0, 0, 53, 11, 1, 106, 22, 2};  // r, g, b
    ImagePtr images[] = {ImagePtr(createImage(2, 2, 8)), ImagePtr(createImage(3, 1, 24)),
                         ImagePtr(createImage(3001, 2, 8)), ImagePtr(createImage(3001, 2, 24))};
    std::memcpy(images[0]->data, levels, sizeof levels);
    std::memcpy(images[1]->data, colours, sizeof colours);
    for (int i = 0; i < 3001 * 2 * 3; ++i)
        images[3]->data[i] = static_cast<std::uint8_t>(i * 37 + i / 251);
    std::memcpy(images[2]->data, images[3]->data, 3001 * 2);
    const std::string path = test_files::scratchPath("written.bmp");
    for (const ImagePtr& image : images) {
        ASSERT_EQ(writeBMPfile(path.c_str(), image.get()), 0);
        const auto back = readMemory(test_files::readBytes(path));
        ASSERT_EQ(back.code, kReadOk);
        EXPECT_EQ(pixelBytes(*back.image), pixelBytes(*image)) << image->width << " wide";
        if (image->width > 3) continue;
        const char* expected =
            image->depth == 8 ? "crafted/written-grey2x2.bmp" : "crafted/written-colour3x1.bmp";
        EXPECT_EQ(test_files::readBytes(path),
                  test_files::readBytes(test_files::dataPath(expected)));
    }
    // Refusals, before any file is made, and writes that fail.
    std::uint8_t bytes[8] = {};
    Image deep{2, 2, 16, bytes}, narrower{-2, 2, 8, bytes}, lower{2, -2, 8, bytes};
    // One pixel per row but four bytes per stored row: the file would pass 4 GiB.
    ImagePtr narrow(createImage(1, 1 << 30, 8));
    const std::string refused = test_files::scratchPath("refused.bmp");
    for (Image* image : {&deep, &narrower, &lower, narrow.get()}) {
        EXPECT_EQ(writeBMPfile(refused.c_str(), image), 1);
        EXPECT_FALSE(std::filesystem::exists(refused));
    }
    for (const char* unwritable : {"/nonexistent/folder/out.bmp", "/dev/full"})
        EXPECT_EQ(writeBMPfile(unwritable, images[0].get()), 1) << unwritable;
}

}  // namespace
}  // namespace likeness
