#include "likeness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "block_score.h"

namespace likeness {
namespace {

using Levels = std::function<int(int x, int y)>;

ImagePtr greyImage(int width, int height, const Levels& level, int depth = 8) {
    ImagePtr image(createImage(width, height, depth));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Pixel pixel{level(x, y), x, 255 - y};
            setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

const Levels kRampUp = [](int x, int y) { return 8 * y + x; };
const Levels kRampDown = [](int x, int y) { return 63 - (8 * y + x); };

TEST(BlockSSIM, MatchesValuesWorkedOutByHand) {
    ImagePtr noise = greyImage(8, 8, [](int x, int y) { return (x * 97 + y * 31 + x * y) % 256; });
    EXPECT_EQ(calculate_ssim(noise.get(), noise.get(), 0, 0), 1.0);
    // A block of 0 against one of 255 keeps only the luminance term: C1 / (255^2 + C1).
    ImagePtr black = greyImage(8, 8, [](int, int) { return 0; });
    ImagePtr white = greyImage(8, 8, [](int, int) { return 255; });
    EXPECT_DOUBLE_EQ(calculate_ssim(black.get(), white.get(), 0, 0), 6.5025 / (65025 + 6.5025));
    // Ramps 0..63 against 63..0: equal means, variances v = 64 (64^2 - 1) / 12 / 63 and a
    // covariance of -v, so the score is (C2 - 2v) / (C2 + 2v), about -0.844.
    ImagePtr up = greyImage(8, 8, kRampUp);
    ImagePtr down = greyImage(8, 8, kRampDown);
    const double v = 64.0 * 4095.0 / 12.0 / 63.0;
    EXPECT_NEAR(calculate_ssim(up.get(), down.get(), 0, 0), (58.5225 - 2 * v) / (58.5225 + 2 * v),
                1e-15);
    // A 24-bit image is measured by its red component.
    ImagePtr colour = greyImage(8, 8, kRampUp, 24);
    EXPECT_EQ(calculate_ssim(colour.get(), down.get(), 0, 0),
              calculate_ssim(up.get(), down.get(), 0, 0));
}

// A block past the border sees the border pixels repeated, past any edge.
TEST(BlockSSIM, BlocksPastTheBorderRepeatTheBorderPixels) {
    const Levels texture = [](int x, int y) { return (x * 37 + y * 11 + x * y) % 256; };
    ImagePtr image = greyImage(16, 12, texture);
    ImagePtr flat = greyImage(16, 12, [](int, int) { return 100; });
    for (auto [x0, y0] : {std::pair{-4, -4}, {12, 8}, {8, 6}}) {
        ImagePtr stretched = greyImage(8, 8, [&](int x, int y) {
            return texture(std::clamp(x0 + x, 0, 15), std::clamp(y0 + y, 0, 11));
        });
        ImagePtr flatBlock = greyImage(8, 8, [](int, int) { return 100; });
        EXPECT_EQ(calculate_ssim(image.get(), flat.get(), x0, y0),
                  calculate_ssim(stretched.get(), flatBlock.get(), 0, 0))
            << x0 << ", " << y0;
    }
}

// Every fast way of scoring a block gives the plain two-pass score bit for bit: the vector
// kernels (the AVX2 one where the processor has it), the single-block score and so the mean's
// scores, on random textures from flat to wild, against unrelated or noisy copies, and on every
// pair of extreme blocks, laid side by side in one band.
TEST(FastBlockSSIM, GivesThePlainScoreBitForBit) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> level(0, 255);
    std::uniform_int_distribution<int> spread(0, 60);
    std::vector<int> a;
    std::vector<int> b;
    for (int round = 0; round < 5001; ++round) {
        const int centre = level(random);
        const int width = spread(random);
        for (int i = 0; i < 64; ++i) {
            a.push_back(correctValue(centre + level(random) % (2 * width + 1) - width, 255));
            b.push_back(round % 2 ? level(random)
                                  : correctValue(a.back() + spread(random) - 30, 255));
        }
    }
    const std::vector<Levels> extremes = {
        [](int, int) { return 0; },
        [](int, int) { return 255; },
        kRampUp,
        kRampDown,
        [](int x, int y) { return (x + y) % 2 * 255; },
        [](int x, int y) { return x == 0 && y == 0 ? 255 : 0; },
    };
    for (const Levels& first : extremes) {
        for (const Levels& second : extremes) {
            for (int i = 0; i < 64; ++i) {
                a.push_back(first(i % 8, i / 8));
                b.push_back(second(i % 8, i / 8));
            }
        }
    }
    const int blocks = static_cast<int>(a.size() / 64);  // odd: the kernels leave a tail
    const auto levels = [blocks](const std::vector<int>& block) {
        return [&block](int x, int y) { return block[64 * (x / 8) + 8 * y + x % 8]; };
    };
    ImagePtr first = greyImage(8 * blocks, 8, levels(a));
    ImagePtr second = greyImage(8 * blocks, 8, levels(b));
    std::vector<double> scores(blocks);
    meanSSIM(first.get(), second.get(), scores.data());
    std::vector<std::vector<double>> kernels(2, std::vector<double>(blocks));
    const std::size_t width = 8 * static_cast<std::size_t>(blocks);
    const std::size_t scored[2] = {
        leadingBlockScoresBaseline(first->data, second->data, width, kernels[0].data()),
        hasAVX2Kernel()
            ? leadingBlockScoresAVX2(first->data, second->data, width, kernels[1].data())
            : 0};
    for (int block = 0; block < blocks; ++block) {
        const int x0 = 8 * block;
        const double plain = plainBlockSSIM(first.get(), second.get(), x0, 0);
        ASSERT_EQ(scores[block], plain) << block;
        ASSERT_EQ(fastBlockSSIM(first->data + x0, width, second->data + x0, width), plain);
        for (int kernel = 0; kernel < 2; ++kernel) {
            if (static_cast<std::size_t>(block) < scored[kernel]) {
                ASSERT_EQ(kernels[kernel][block], plain) << "kernel " << kernel;
            }
        }
    }
}

// Pairs that cannot be compared, and pairs without blocks, have no mean: a plain NaN, and no
// read past the smaller image.
TEST(MeanSSIM, PairsWithoutAMeanGiveNaN) {
    ImagePtr large = greyImage(16, 16, kRampUp);
    ImagePtr small = greyImage(8, 8, kRampUp);
    ImagePtr colour = greyImage(16, 16, kRampUp, 24);
    ImagePtr empty(createImage(0, 0, 8));
    for (auto [first, second] : {std::pair{large.get(), small.get()},
                                 {small.get(), large.get()},
                                 {colour.get(), colour.get()},
                                 {empty.get(), empty.get()},
                                 {large.get(), static_cast<Image*>(nullptr)}}) {
        const double mean = meanSSIM(first, second);
        EXPECT_TRUE(std::isnan(mean) && !std::signbit(mean));
    }
}

}  // namespace
}  // namespace likeness
