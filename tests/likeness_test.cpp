#include "likeness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <utility>
#include <vector>

namespace likeness {
namespace {

using Levels = std::function<int(int x, int y)>;

ImagePtr greyImage(int width, int height, const Levels& level, int depth = 8) {
    ImagePtr image(createImage(width, height, depth));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Pixel pixel{level(x, y), x, 255 - y};
            setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

const Levels kRampUp = [](int x, int y) { return 8 * y + x; };
const Levels kRampDown = [](int x, int y) { return 63 - (8 * y + x); };
// A block of 0 against one of 255 keeps only the luminance term: C1 / (255^2 + C1).
const double kBlackAgainstWhite = 6.5025 / (255.0 * 255.0 + 6.5025);

TEST(BlockSSIM, MatchesValuesWorkedOutByHand) {
    ImagePtr noise = greyImage(8, 8, [](int x, int y) { return (x * 97 + y * 31 + x * y) % 256; });
    EXPECT_EQ(calculate_ssim(noise.get(), noise.get(), 0, 0), 1.0);

    ImagePtr black = greyImage(8, 8, [](int, int) { return 0; });
    ImagePtr white = greyImage(8, 8, [](int, int) { return 255; });
    EXPECT_DOUBLE_EQ(calculate_ssim(black.get(), white.get(), 0, 0), kBlackAgainstWhite);

    // Ramps 0..63 against 63..0: equal means, variances v = 64 (64^2 - 1) / 12 / 63 and a
    // covariance of -v, so the score is (C2 - 2v) / (C2 + 2v), about -0.844.
    ImagePtr up = greyImage(8, 8, kRampUp);
    ImagePtr down = greyImage(8, 8, kRampDown);
    const double v = 64.0 * 4095.0 / 12.0 / 63.0;
    EXPECT_NEAR(calculate_ssim(up.get(), down.get(), 0, 0), (58.5225 - 2 * v) / (58.5225 + 2 * v),
                1e-15);
}

TEST(BlockSSIM, BlocksPastTheBorderAndTrueColourTakeThePlainScore) {
    ImagePtr wide = greyImage(24, 16, [](int x, int y) { return (x * 37 + y * 11) % 256; });
    ImagePtr narrow = greyImage(16, 16, [](int x, int y) { return (x * 5 + y * 91) % 256; });
    for (auto [x0, y0] : {std::pair{3, 5}, {8, 8}, {12, 8}, {-4, -4}}) {
        EXPECT_EQ(calculate_ssim(wide.get(), narrow.get(), x0, y0),
                  plainBlockSSIM(wide.get(), narrow.get(), x0, y0));
    }
    // The block at (-4, -4) sees the top-left pixels stretched out; a flat image stays flat.
    ImagePtr stretched =
        greyImage(8, 8, [](int x, int y) { return 8 * std::max(y - 4, 0) + std::max(x - 4, 0); });
    ImagePtr up = greyImage(8, 8, kRampUp);
    ImagePtr flat = greyImage(8, 8, [](int, int) { return 100; });
    EXPECT_EQ(calculate_ssim(up.get(), flat.get(), -4, -4),
              calculate_ssim(stretched.get(), flat.get(), 0, 0));
    ImagePtr down = greyImage(8, 8, kRampDown);
    // A 24-bit image is measured by its red component.
    ImagePtr colour = greyImage(8, 8, kRampUp, 24);
    EXPECT_EQ(calculate_ssim(colour.get(), down.get(), 0, 0),
              calculate_ssim(up.get(), down.get(), 0, 0));
}

// The fast score must give the plain two-pass score bit for bit: on random textures from flat to
// wild, against unrelated or noisy copies, and on every pair of extreme blocks.
TEST(FastBlockSSIM, GivesThePlainScoreBitForBit) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> level(0, 255);
    std::uniform_int_distribution<int> spread(0, 60);
    std::vector<std::pair<Levels, Levels>> pairs;
    for (int round = 0; round < 5000; ++round) {
        const int centre = level(random);
        const int width = spread(random);
        std::vector<int> a(64);
        std::vector<int> b(64);
        for (int i = 0; i < 64; ++i) {
            a[i] = correctValue(centre + level(random) % (2 * width + 1) - width, 255);
            b[i] = round % 2 ? level(random) : correctValue(a[i] + spread(random) - 30, 255);
        }
        pairs.emplace_back([a](int x, int y) { return a[8 * y + x]; },
                           [b](int x, int y) { return b[8 * y + x]; });
    }
    const std::vector<Levels> extremes = {
        [](int, int) { return 0; },
        [](int, int) { return 255; },
        [](int, int) { return 128; },
        kRampUp,
        kRampDown,
        [](int x, int y) { return (x + y) % 2 * 255; },
        [](int x, int y) { return x == 0 && y == 0 ? 255 : 0; },
    };
    for (const Levels& first : extremes) {
        for (const Levels& second : extremes) pairs.emplace_back(first, second);
    }
    for (const auto& [levelsA, levelsB] : pairs) {
        ImagePtr a = greyImage(8, 8, levelsA);
        ImagePtr b = greyImage(8, 8, levelsB);
        ASSERT_EQ(fastBlockSSIM(a->data, 8, b->data, 8), plainBlockSSIM(a.get(), b.get(), 0, 0));
    }
}

TEST(MeanSSIM, AveragesEveryBlockInOrder) {
    // 8 high, 16 wide: the left block agrees, the right one is 0 against 255.
    ImagePtr first = greyImage(16, 8, [](int x, int) { return x < 8 ? 77 : 0; });
    ImagePtr second = greyImage(16, 8, [](int x, int) { return x < 8 ? 77 : 255; });
    double scores[2] = {};
    EXPECT_DOUBLE_EQ(meanSSIM(first.get(), second.get(), scores), (1.0 + kBlackAgainstWhite) / 2);
    EXPECT_EQ(scores[0], 1.0);
    EXPECT_EQ(scores[1], calculate_ssim(first.get(), second.get(), 8, 0));

    ImagePtr empty(createImage(0, 0, 8));
    const double mean = meanSSIM(empty.get(), empty.get());
    EXPECT_TRUE(std::isnan(mean) && !std::signbit(mean));
}

}  // namespace
}  // namespace likeness
