#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <thread>

#include "likeness/engine.h"
#include "likeness/likeness.h"
#include "reference.h"
#include "test_files.h"

namespace likeness {
namespace {

// The two files at the paths compared with the limits and, when asked for, the block scores and
// colour pictures by their luma.
Comparison compareWith(const std::string& first, const std::string& second,
                       const ReadLimits& limits, bool blockScores = false, bool luma = false) {
    CompareOptions options;
    options.limits = limits;
    options.blockScores = blockScores;
    options.luma = luma;
    return compare(fileSource(first.c_str()), fileSource(second.c_str()), options);
}

// compare() gives what the whole read gives: verdict, the reader's code, sides, the mean's bits and
// every score's.
void expectSameAsWholeRead(const std::string& first, const std::string& second,
                           const ReadLimits& limits = ReadLimits{}, bool luma = false) {
    const Comparison expected = reference::readThenCompare(first, second, limits, luma);
    const Comparison got = compareWith(first, second, limits, true, luma);
    EXPECT_EQ(reference::comparedFields(got), reference::comparedFields(expected))
        << first << " against " << second << (luma ? " by luma" : "");
    // A rectangle wholly outside the pictures leaves nothing out, but takes both read whole.
    CompareOptions whole;
    whole.limits = limits;
    whole.blockScores = true;
    whole.luma = luma;
    whole.ignored.rectangles = {{-9, -9, 9, 9}};
    const Comparison read = compare(fileSource(first.c_str()), fileSource(second.c_str()), whole);
    EXPECT_EQ(reference::comparedFields(read), reference::comparedFields(expected))
        << first << " against " << second << (luma ? " by luma" : "") << ", read whole";
    EXPECT_EQ(read.ignored, 0u);
}

// Every test file against its neighbour in the list and against the next one of the same size,
// both ways round, as they are and with colour taken by its luma: every verdict in the programs'
// order, and the same bits on every pair.
TEST(CompareFiles, GivesWhatReadingBothWholeGivesOnEveryTestFile) {
    std::ifstream list(test_files::dataPath("expected.txt"));
    std::vector<std::string> paths;
    std::map<std::string, std::pair<int, int>> sides;
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#') continue;
        paths.push_back(test_files::dataPath(line.substr(0, line.find(' '))));
        Image* raw = nullptr;
        readImageFile(paths.back().c_str(), &raw);
        ImagePtr image(raw);
        sides[paths.back()] = image ? std::pair{image->width, image->height} : std::pair{-1, -1};
    }
    for (std::size_t i = 0; i + 1 < paths.size(); ++i) {
        const auto same = std::find_if(paths.begin() + i + 1, paths.end(),
                                       [&](auto& path) { return sides[path] == sides[paths[i]]; });
        for (const std::string& partner : {paths[i + 1], same == paths.end() ? paths[i] : *same}) {
            for (const bool luma : {false, true}) {
                expectSameAsWholeRead(paths[i], partner, ReadLimits{}, luma);
                expectSameAsWholeRead(partner, paths[i], ReadLimits{}, luma);
            }
        }
    }
}

// Bytes of a file written from an image, for making its other stored forms.
test_files::Bytes written(const Image& image) {
    const std::string path = test_files::scratchPath("written.bmp");
    EXPECT_EQ(writeBMPfile(path.c_str(), &image), 0);
    return test_files::readBytes(path);
}

void putField(test_files::Bytes* bytes, std::size_t at, std::int32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        (*bytes)[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * i));
}

std::string saved(const std::string& name, const test_files::Bytes& bytes) {
    const std::string path = test_files::scratchPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return path;
}

// A 24-bit picture is grey only where every pixel's three components are equal: one component
// of one pixel off by one, wherever it lies in a row or in the picture, makes it a colour picture,
// whether the pair is scored or refused for its sizes first.
TEST(CompareFiles, TakesA24BitPictureWithOneComponentOffForColour) {
    const int width = 200, height = 16;
    ImagePtr image(createImage(width, height, 24));
    for (int i = 0; i < width * height; ++i) std::fill_n(image->data + 3 * i, 3, i * 7 % 256);
    const std::string grey = saved("grey.bmp", written(*image));
    const std::string other = test_files::dataPath("written/ffmpeg-grey16x16.bmp");
    for (const int pixel : {0, 77, width - 1, width * height / 2 + 130, width * height - 1}) {
        for (int component = 0; component < 3; ++component) {
            std::uint8_t& byte = image->data[3 * pixel + component];
            ++byte;
            const std::string colour = saved("colour.bmp", written(*image));
            --byte;
            EXPECT_EQ(compareWith(colour, grey, ReadLimits{}).verdict, kPairNotGrey)
                << pixel << " " << component;
            expectSameAsWholeRead(grey, colour);
            expectSameAsWholeRead(colour, other);
        }
    }
    // Pixels of every colour, by their luma: each component weighs its own.
    for (int i = 0; i < width * height; ++i) {
        const std::uint8_t rgb[] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i / 3),
                                    static_cast<std::uint8_t>(255 - i % 97)};
        std::copy_n(rgb, 3, image->data + 3 * i);
    }
    const std::string colour = saved("colour.bmp", written(*image));
    expectSameAsWholeRead(colour, grey, ReadLimits{}, true);
    // The same picture held in memory, red first.
    Image* raw = nullptr;
    ASSERT_EQ(readImageFile(colour.c_str(), &raw), kReadOk);
    const ImagePtr held(raw);
    CompareOptions byLuma;
    byLuma.luma = true;
    byLuma.blockScores = true;
    EXPECT_EQ(
        reference::comparedFields(
            compare(imageSource(held.get()), fileSource(grey.c_str()), byLuma)),
        reference::comparedFields(reference::readThenCompare(colour, grey, ReadLimits{}, true)));
}

// Files read whole keep the reader's ceiling on compressed pictures and its refusals: a picture
// over the ceiling, and a folder, which opens but cannot be read, cannot be read, as first or as
// second; an uncompressed file, read where its rows lie, has no ceiling.
TEST(CompareFiles, KeepsTheCeilingAndTheRefusalsOfTheWholeRead) {
    const std::string png = test_files::dataPath("written/blocks-first.png");
    const std::string jpeg = test_files::dataPath("written/ffmpeg-grey16x16.jpg");
    const std::string bmp = test_files::dataPath("written/ffmpeg-grey16x16.bmp");
    const std::string folder = test_files::dataPath("written");
    const ReadLimits ceiling{64};
    EXPECT_EQ(compareWith(png, bmp, ceiling).verdict, kFirstUnreadable);
    EXPECT_EQ(compareWith(bmp, jpeg, ceiling).verdict, kSecondUnreadable);
    EXPECT_EQ(compareWith(bmp, bmp, ceiling).verdict, kPairOk);
    EXPECT_EQ(compareWith(folder, bmp, ReadLimits{}).verdict, kFirstUnreadable);
    EXPECT_EQ(compareWith(bmp, folder, ReadLimits{}).verdict, kSecondUnreadable);
    for (const std::string& first : {png, jpeg, bmp, folder})
        for (const std::string& second : {png, jpeg, bmp, folder})
            for (const ReadLimits limits : {ceiling, ReadLimits{0}})
                expectSameAsWholeRead(first, second, limits);
}

// A width x height picture, with little noise and with much, stored in every form that is read
// band by band: BMP bottom-up and top-down, with the grey palette and a reversed one, 24-bit grey,
// binary PGM where the rows lie, and plain PGM through its decoder. All pairs agree bit for bit
// with the whole read.
void expectEveryStoredFormAlike(int width, int height) {
    std::vector<std::string> files;
    for (int noise : {1, 60}) {
        ImagePtr grey(createImage(width, height, 8));
        ImagePtr colour(createImage(width, height, 24));
        for (int i = 0; i < width * height; ++i) {
            const int level = (i % width * 3 + i / width * 5) % 200 + (i * 7919u) % noise;
            grey->data[i] = static_cast<std::uint8_t>(level);
            std::fill_n(colour->data + 3 * i, 3, grey->data[i]);
        }
        const std::string name = std::to_string(width) + "-" + std::to_string(noise);
        const test_files::Bytes bottomUp = written(*grey);
        test_files::Bytes topDown = bottomUp, reversed = bottomUp;
        const int stride = (width + 3) / 4 * 4;
        for (int y = 0; y < height; ++y)
            std::copy_n(grey->data + y * width, width, topDown.data() + 1078 + y * stride);
        putField(&topDown, 22, -height);
        // Entry i of the palette is grey level 255 - i, and each index 255 - level.
        for (std::size_t i = 54; i < reversed.size(); ++i)
            if (i >= 1078 || (i - 54) % 4 < 3) reversed[i] = ~reversed[i];
        const std::string header =
            "P5\n# binary\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
        test_files::Bytes binary(header.begin(), header.end());
        binary.insert(binary.end(), grey->data, grey->data + width * height);
        std::string plain = "P2\n" + std::to_string(width) + " " + std::to_string(height) + "\n255";
        for (int i = 0; i < width * height; ++i)
            plain += (i % 16 ? " " : "\n") + std::to_string(grey->data[i]);
        for (auto [suffix, bytes] : {std::pair{".bmp", bottomUp},
                                     {"-top-down.bmp", topDown},
                                     {"-reversed.bmp", reversed},
                                     {"-24.bmp", written(*colour)},
                                     {".pgm", binary},
                                     {"-plain.pgm", test_files::Bytes(plain.begin(), plain.end())}})
            files.push_back(saved(name + suffix, bytes));
    }
    // Against the first form, and the second picture as a top-down, a 24-bit and a plain file.
    for (const std::string& first : files)
        for (const std::string& second : {files[0], files[7], files[9], files[11]})
            expectSameAsWholeRead(first, second);
}

// A pair too small for two threads whose rows are wider than a page, and whose band of 8 rows is
// wider than the piece one thread reads at a time (12 KiB and 96 KiB as 24-bit files).
TEST(CompareFiles, ReadsEveryStoredFormOfAWidePairOnOneThreadAlike) {
    expectEveryStoredFormAlike(4104, 16);
}

// Tests that make compare() start threads; they do not run where threads cannot end (see
// CMakeLists.txt).

// A picture large enough for two threads (2.1 M pixels, 182 bands).
TEST(CompareFilesOnThreads, ReadsEveryStoredFormOfALargePairAlike) {
    expectEveryStoredFormAlike(1456, 1456);
}

// A pipe keeps the reader's own path, read once as a stream, and only once the first file has
// been read: with the first file missing, a reader would wait here for a writer forever.
TEST(CompareFilesOnThreads, ReadsAPipeAsAStreamAndOnlyAfterTheFirstFile) {
    const std::string fifo = test_files::scratchPath("second.pgm");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(compareWith("missing.bmp", fifo, ReadLimits{}).verdict, kFirstUnreadable);
    // A picture larger than a pipe holds, so that the writer cannot be done and gone before the
    // pipe is opened: a pipe whose last writer has gone is empty.
    const int side = 512;
    ImagePtr image(createImage(side, side, 8));
    for (int i = 0; i < side * side; ++i) image->data[i] = static_cast<std::uint8_t>(i * 31 % 241);
    const std::string header = "P5\n512 512\n255\n";
    test_files::Bytes bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), image->data, image->data + side * side);
    const std::string second = saved("stored.pgm", bytes);
    for (int i = 0; i < side * side; ++i) image->data[i] = static_cast<std::uint8_t>(255 - i % 256);
    const std::string first = saved("first.bmp", written(*image));
    // The pipe has a writer before it is read, as a shell's pipe has: one without is empty.
    const int writing = open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writing, 0);
    std::thread writer([&] {
        for (std::size_t at = 0; at < bytes.size(); at += 1000) {
            const std::size_t piece = std::min<std::size_t>(1000, bytes.size() - at);
            EXPECT_EQ(write(writing, bytes.data() + at, piece), static_cast<ssize_t>(piece));
            if (at % 64000 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        close(writing);
    });
    const Comparison comparison = compareWith(first, fifo, ReadLimits{});
    writer.join();
    EXPECT_EQ(comparison.mean, reference::readThenCompare(first, second, ReadLimits{}).mean);
}

// A file that shrinks while it is read is a file that cannot be read, never a crash, however
// far the reading has got, first or second.
TEST(CompareFilesOnThreads, TakesAFileThatShrinksWhileReadForOneThatCannotBeRead) {
    const int side = 4096;
    ImagePtr image(createImage(side, side, 8));
    for (int i = 0; i < side * side; ++i) image->data[i] = static_cast<std::uint8_t>(i % 251);
    const test_files::Bytes bytes = written(*image);
    const std::string whole = saved("whole.bmp", bytes);
    for (const int shrinks : {kFirstUnreadable, kSecondUnreadable}) {
        for (int wait = 0; wait < 8000; wait += 1000) {
            const std::string shrinking = saved("shrinking.bmp", bytes);
            const bool first = shrinks == kFirstUnreadable;
            Comparison comparison;
            std::thread reader([&] {
                comparison =
                    compareWith(first ? shrinking : whole, first ? whole : shrinking, ReadLimits{});
            });
            std::this_thread::sleep_for(std::chrono::microseconds(wait));
            ASSERT_EQ(truncate(shrinking.c_str(), 5000), 0);
            reader.join();
            if (comparison.verdict != shrinks) {
                EXPECT_EQ(comparison.mean, 1.0) << wait << ", " << shrinks;
            }
        }
    }
}

}  // namespace
}  // namespace likeness
