#include "likeness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace likeness {
namespace {

// An 8-bit image whose grey level at (x, y) is level(x, y).
ImagePtr greyImage(int width, int height, const std::function<int(int, int)>& level) {
    ImagePtr image(createImage(width, height, 8));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel pixel{level(x, y), 0, 0};
            setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

ImagePtr flat(int width, int height, int level) {
    return greyImage(width, height, [level](int, int) { return level; });
}

// Worked out by hand: a block of 0 against one of 255 has equal (zero) variances and no
// covariance, so only the luminance term remains: C1 / (255^2 + C1).
const double kBlackAgainstWhite = 6.5025 / (255.0 * 255.0 + 6.5025);

TEST(BlockSSIM, ABlockAgainstItselfIsExactlyOne) {
    ImagePtr noise =
        greyImage(16, 16, [](int x, int y) { return (x * 97 + y * 31 + x * y) % 256; });
    for (int y0 : {0, 8}) {
        for (int x0 : {0, 8}) EXPECT_EQ(calculate_ssim(noise.get(), noise.get(), x0, y0), 1.0);
    }
    ImagePtr black = flat(8, 8, 0);
    EXPECT_EQ(calculate_ssim(black.get(), black.get(), 0, 0), 1.0);
}

TEST(BlockSSIM, MatchesValuesWorkedOutByHand) {
    ImagePtr black = flat(8, 8, 0);
    ImagePtr white = flat(8, 8, 255);
    EXPECT_DOUBLE_EQ(calculate_ssim(black.get(), white.get(), 0, 0), kBlackAgainstWhite);
    EXPECT_LT(kBlackAgainstWhite, 1e-4);

    // Ramps 0..63 against 63..0: equal means, variances 64 * (64^2 - 1) / 12 / 63 each and a
    // covariance of minus that, so the score is (C2 - 2v) / (C2 + 2v).
    ImagePtr up = greyImage(8, 8, [](int x, int y) { return 8 * y + x; });
    ImagePtr down = greyImage(8, 8, [](int x, int y) { return 63 - (8 * y + x); });
    const double v = 64.0 * 4095.0 / 12.0 / 63.0;
    const double expected = (58.5225 - 2 * v) / (58.5225 + 2 * v);
    EXPECT_NEAR(calculate_ssim(up.get(), down.get(), 0, 0), expected, 1e-15);
    EXPECT_NEAR(expected, -0.8443, 1e-4);
}

TEST(BlockSSIM, BlocksPastTheBorderRepeatTheBorderPixels) {
    ImagePtr ramp = greyImage(8, 8, [](int x, int y) { return 8 * y + x; });
    ImagePtr other = greyImage(8, 8, [](int x, int y) { return (x * y * 7) % 64; });
    // The block at (-4, -4) sees each image with its top-left pixels stretched out.
    auto stretched = [](const Image* image) {
        return greyImage(8, 8, [image](int x, int y) {
            Pixel pixel{};
            getPixel(image, x < 4 ? 0 : x - 4, y < 4 ? 0 : y - 4, &pixel);
            return pixel.r;
        });
    };
    EXPECT_EQ(calculate_ssim(ramp.get(), other.get(), -4, -4),
              calculate_ssim(stretched(ramp.get()).get(), stretched(other.get()).get(), 0, 0));
}

TEST(BlockSSIM, TrueColourImagesAreMeasuredByTheirRedComponent) {
    ImagePtr colour(createImage(8, 8, 24));
    ImagePtr grey = greyImage(8, 8, [](int x, int y) { return 3 * x + 20 * y; });
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            Pixel pixel{3 * x + 20 * y, 255 - x, 7 * y};
            setPixel(colour.get(), x, y, &pixel);
        }
    }
    ImagePtr reference = greyImage(8, 8, [](int x, int y) { return x * y; });
    EXPECT_EQ(calculate_ssim(colour.get(), reference.get(), 0, 0),
              calculate_ssim(grey.get(), reference.get(), 0, 0));
}

bool fastEqualsPlain(const Image* first, const Image* second) {
    return fastBlockSSIM(first->data, 8, second->data, 8) == plainBlockSSIM(first, second, 0, 0);
}

// The fast score must give the plain two-pass score bit for bit, on any pair of blocks.
TEST(FastBlockSSIM, GivesThePlainScoreBitForBitOnRandomBlocks) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> level(0, 255);
    std::uniform_int_distribution<int> spread(0, 60);
    for (int round = 0; round < 5000; ++round) {
        // Textures from flat to wild; the second block is either unrelated or a noisy copy.
        const int centre = level(random);
        const int width = spread(random);
        std::vector<int> a(64);
        std::vector<int> b(64);
        for (int i = 0; i < 64; ++i) {
            a[i] = correctValue(centre + level(random) % (2 * width + 1) - width, 255);
            b[i] = round % 2 ? level(random) : correctValue(a[i] + spread(random) - 30, 255);
        }
        ImagePtr first = greyImage(8, 8, [&](int x, int y) { return a[8 * y + x]; });
        ImagePtr second = greyImage(8, 8, [&](int x, int y) { return b[8 * y + x]; });
        ASSERT_TRUE(fastEqualsPlain(first.get(), second.get())) << "round " << round;
    }
}

TEST(FastBlockSSIM, GivesThePlainScoreBitForBitOnExtremeBlocks) {
    const std::vector<std::function<int(int, int)>> extremes = {
        [](int, int) { return 0; },
        [](int, int) { return 255; },
        [](int, int) { return 128; },
        [](int x, int y) { return 8 * y + x; },
        [](int x, int y) { return 255 - (8 * y + x); },
        [](int x, int y) { return (x + y) % 2 * 255; },
        [](int x, int) { return x < 4 ? 0 : 255; },
        [](int x, int y) { return x == 0 && y == 0 ? 255 : 0; },
    };
    for (const auto& levelA : extremes) {
        for (const auto& levelB : extremes) {
            ImagePtr first = greyImage(8, 8, levelA);
            ImagePtr second = greyImage(8, 8, levelB);
            EXPECT_TRUE(fastEqualsPlain(first.get(), second.get()));
        }
    }
}

TEST(BlockSSIM, InsideBlocksOfImagesOfOtherWidthsUseTheirOwnRows) {
    ImagePtr wide = greyImage(24, 16, [](int x, int y) { return (x * 37 + y * 11) % 256; });
    ImagePtr narrow = greyImage(16, 16, [](int x, int y) { return (x * 5 + y * 91) % 256; });
    for (auto [x0, y0] : {std::pair{0, 0}, {8, 8}, {3, 5}, {8, 0}}) {
        EXPECT_EQ(calculate_ssim(wide.get(), narrow.get(), x0, y0),
                  plainBlockSSIM(wide.get(), narrow.get(), x0, y0));
    }
    // Past the border of the narrow image: edge replication through the plain score.
    EXPECT_EQ(calculate_ssim(wide.get(), narrow.get(), 12, 8),
              plainBlockSSIM(wide.get(), narrow.get(), 12, 8));
}

TEST(MeanSSIM, AveragesEveryBlockOfTheGrid) {
    // 8 high, 16 wide: the left block agrees, the right one is 0 against 255.
    ImagePtr first = greyImage(16, 8, [](int x, int) { return x < 8 ? 77 : 0; });
    ImagePtr second = greyImage(16, 8, [](int x, int) { return x < 8 ? 77 : 255; });
    EXPECT_DOUBLE_EQ(meanSSIM(first.get(), second.get()), (1.0 + kBlackAgainstWhite) / 2);

    ImagePtr up = greyImage(8, 8, [](int x, int y) { return 8 * y + x; });
    ImagePtr down = greyImage(8, 8, [](int x, int y) { return 63 - (8 * y + x); });
    EXPECT_EQ(meanSSIM(up.get(), down.get()), calculate_ssim(up.get(), down.get(), 0, 0));

    ImagePtr empty(createImage(0, 0, 8));
    const double mean = meanSSIM(empty.get(), empty.get());
    EXPECT_TRUE(std::isnan(mean));
    EXPECT_FALSE(std::signbit(mean));
}

TEST(CheckPair, RefusesInTheOrderDepthSizeDivisibility) {
    ImagePtr grey8x8 = flat(8, 8, 0);
    ImagePtr colour(createImage(16, 16, 24));
    ImagePtr grey16x8 = flat(16, 8, 0);
    ImagePtr grey8x16 = flat(8, 16, 0);
    ImagePtr grey12x8 = flat(12, 8, 0);
    ImagePtr empty(createImage(0, 0, 8));
    EXPECT_EQ(checkPair(grey8x8.get(), colour.get()), kPairNotGrey);
    EXPECT_EQ(checkPair(colour.get(), grey8x8.get()), kPairNotGrey);
    EXPECT_EQ(checkPair(grey16x8.get(), grey8x16.get()), kPairSizesDiffer);
    EXPECT_EQ(checkPair(grey12x8.get(), grey12x8.get()), kPairNotDivisible);
    EXPECT_EQ(checkPair(grey8x16.get(), grey8x16.get()), kPairOk);
    EXPECT_EQ(checkPair(empty.get(), empty.get()), kPairOk);
}

}  // namespace
}  // namespace likeness
