// Pairs scored channel by channel and with pixels left out, against block scores computed
// plainly on the same levels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>
#include <tuple>

#include "likeness/bmp.h"
#include "likeness/engine.h"
#include "likeness/likeness.h"
#include "likeness/read_result.h"
#include "test_files.h"

namespace likeness {
namespace {

constexpr int kSide = 32;  // 4 x 4 blocks

// A 24-bit picture whose channels are seeded apart, so that no two of them are alike.
ImagePtr colourPicture(int seed) {
    ImagePtr image(createImage(kSide, kSide, 24));
    for (int i = 0; i < kSide * kSide * 3; ++i) {
        image->data[i] = static_cast<std::uint8_t>((i * 37 + seed * (i % 3 + 1) * 11) % 251);
    }
    return image;
}

ImagePtr channelOf(const Image& image, int channel) {
    ImagePtr plane(createImage(image.width, image.height, 8));
    for (int i = 0; i < image.width * image.height; ++i)
        plane->data[i] = image.data[3 * i + channel];
    return plane;
}

std::vector<double> blockScores(const Image& first, const Image& second) {
    std::vector<double> scores(static_cast<std::size_t>(first.width / 8 * (first.height / 8)));
    meanSSIM(&first, &second, scores.data());
    return scores;
}

Comparison compareHeld(const Image& first, const Image& second, const CompareOptions& options) {
    return compare(imageSource(&first), imageSource(&second), options);
}

// Each block takes its lowest channel's score; each channel's mean is that channel's meanSSIM.
TEST(CompareByColour, ScoresEachBlockByItsLowestChannel) {
    const ImagePtr first = colourPicture(1);
    const ImagePtr second = colourPicture(2);
    CompareOptions options;
    options.colour = true;
    options.blockScores = true;
    const Comparison got = compareHeld(*first, *second, options);
    ASSERT_EQ(got.verdict, kPairOk);
    std::vector<double> lowest(16, 2.0);
    for (int c = 0; c < 3; ++c) {
        const ImagePtr a = channelOf(*first, c);
        const ImagePtr b = channelOf(*second, c);
        const std::vector<double> scores = blockScores(*a, *b);
        EXPECT_EQ(got.channels[c], meanSSIM(a.get(), b.get())) << c;
        for (std::size_t i = 0; i < scores.size(); ++i) lowest[i] = std::min(lowest[i], scores[i]);
    }
    EXPECT_EQ(got.scores, lowest);
    EXPECT_EQ(got.mean, std::accumulate(lowest.begin(), lowest.end(), 0.0) / 16);
    EXPECT_LE(got.mean, std::min({got.channels[0], got.channels[1], got.channels[2]}));
    // Without colour the pair is refused, as ever.
    EXPECT_EQ(compareHeld(*first, *second, CompareOptions{}).verdict, kPairNotGrey);
}

// A grey picture, in an 8-bit image or in a 24-bit one, has three equal channels: its scores
// are the grey scores, against a colour picture too.
TEST(CompareByColour, TakesGreyPicturesAsThreeEqualChannels) {
    const ImagePtr colour = colourPicture(3);
    const ImagePtr grey = channelOf(*colour, 1);
    ImagePtr greyIn24(createImage(kSide, kSide, 24));
    for (int i = 0; i < kSide * kSide; ++i) std::fill_n(greyIn24->data + 3 * i, 3, grey->data[i]);
    const ImagePtr other = channelOf(*colourPicture(4), 0);
    CompareOptions options;
    options.colour = true;
    options.blockScores = true;
    for (const Image* picture : {grey.get(), greyIn24.get()}) {
        const Comparison got = compareHeld(*picture, *other, options);
        EXPECT_EQ(got.scores, blockScores(*grey, *other));
        EXPECT_EQ(got.mean, meanSSIM(grey.get(), other.get()));
        EXPECT_EQ(got.channels[2], got.mean);
    }
    // Against the colour picture, green is grey's own channel and scores 1 everywhere.
    const Comparison mixed = compareHeld(*colour, *greyIn24, options);
    EXPECT_EQ(mixed.channels[1], 1.0);
    EXPECT_LT(mixed.channels[0], 1.0);
}

// A block that holds one ignored pixel is left out of the mean, whether a rectangle (clipped to
// the picture) or a mask names it; a mask of another size refuses the pair.
TEST(CompareIgnoring, LeavesOutEveryBlockThatHoldsAnIgnoredPixel) {
    const ImagePtr first = channelOf(*colourPicture(5), 0);
    const ImagePtr second = channelOf(*colourPicture(6), 2);
    const std::vector<double> all = blockScores(*first, *second);
    ImagePtr mask(createImage(kSide, kSide, 8));
    mask->data[31 * kSide + 8] = 1;  // block (1, 3)
    CompareOptions options;
    options.blockScores = true;
    // Block (0, 0) by a rectangle's last pixel, blocks (3, 1) and (3, 2) by a rectangle reaching
    // past the right side.
    options.ignored.rectangles = {{-4, -4, 5, 5}, {31, 15, 40, 2}};
    options.ignored.masks = {mask.get()};
    const Comparison got = compareHeld(*first, *second, options);
    ASSERT_EQ(got.verdict, kPairOk);
    std::vector<bool> leftOut(16, false);
    for (const int block : {0, 7, 11, 13}) leftOut[block] = true;
    EXPECT_EQ(got.leftOut, leftOut);
    EXPECT_EQ(got.ignored, 4u);
    EXPECT_EQ(got.scores, all);
    double sum = 0.0;
    for (std::size_t i = 0; i < all.size(); ++i) sum += leftOut[i] ? 0.0 : all[i];
    EXPECT_EQ(got.mean, sum / 12);
    // Everything left out: no mean.
    options.ignored = Ignored{{{0, 0, kSide, kSide}}, {}};
    const Comparison none = compareHeld(*first, *second, options);
    EXPECT_EQ(none.ignored, 16u);
    EXPECT_TRUE(std::isnan(none.mean));
    ImagePtr small(createImage(kSide, kSide - 8, 8));
    options.ignored = Ignored{{}, {small.get()}};
    EXPECT_EQ(compareHeld(*first, *second, options).verdict, kMaskSizeDiffers);
}

// Two large files are read at once, on two threads: the same scores as read one after the other
// from streams, and each side's trouble named in the order of the pair.
TEST(CompareByColour, ReadsLargeFilesAtOnceWithTheSameBitsAndVerdicts) {
    ImagePtr picture(createImage(256, 128, 24));
    for (int i = 0; i < 256 * 128 * 3; ++i)
        picture->data[i] = static_cast<std::uint8_t>(static_cast<unsigned>(i) * i >> 5);
    const std::string whole = test_files::scratchPath("large.bmp");
    ASSERT_EQ(writeBMPfile(whole.c_str(), picture.get()), 0);
    for (int i = 0; i < 256 * 128 * 3; i += 7) picture->data[i] ^= 0x11;
    const std::string other = test_files::scratchPath("large-other.bmp");
    ASSERT_EQ(writeBMPfile(other.c_str(), picture.get()), 0);
    test_files::Bytes bytes = test_files::readBytes(whole);
    const std::string cut = test_files::scratchPath("large-cut.bmp");
    bytes.resize(bytes.size() - 1000);
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    CompareOptions options;
    options.colour = true;
    options.blockScores = true;
    const Comparison got = compare(fileSource(whole.c_str()), fileSource(other.c_str()), options);
    std::FILE* a = std::fopen(whole.c_str(), "rb");
    std::FILE* b = std::fopen(other.c_str(), "rb");
    const Comparison streamed = compare(streamSource(a), streamSource(b), options);
    std::fclose(a);
    std::fclose(b);
    ASSERT_EQ(got.verdict, kPairOk);
    EXPECT_LT(got.mean, 1.0);
    EXPECT_EQ(got.scores, streamed.scores);
    EXPECT_EQ(got.channels, streamed.channels);
    for (const auto& [first, second, verdict] :
         {std::tuple{cut, whole, kFirstUnreadable}, std::tuple{whole, cut, kSecondUnreadable},
          std::tuple{cut, cut, kFirstUnreadable}}) {
        const Comparison refused =
            compare(fileSource(first.c_str()), fileSource(second.c_str()), options);
        EXPECT_EQ(refused.verdict, verdict) << first << " " << second;
        EXPECT_EQ(refused.readResult, kBadPixels);
    }
}

}  // namespace
}  // namespace likeness
