#include "likeness/likeness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "metric/block_score.h"

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
const Levels kFlat = [](int, int) { return 100; };

// A block past the border sees the border pixels repeated, past any edge and whatever the other
// image's width or depth; a 24-bit image is measured by its red component.
TEST(BlockSSIM, BlocksPastTheBorderRepeatTheBorderPixels) {
    const Levels texture = [](int x, int y) { return (x * 37 + y * 11 + x * y) % 256; };
    const Levels other = [](int x, int y) { return (x * x + 3 * y) % 256; };
    ImagePtr firsts[] = {greyImage(16, 12, texture), greyImage(16, 12, texture, 24)};
    ImagePtr seconds[] = {greyImage(24, 12, other), greyImage(24, 12, other, 24)};
    const auto block = [](const Levels& level, int width, int x0, int y0) {
        return greyImage(8, 8, [&](int x, int y) {
            return level(std::clamp(x0 + x, 0, width - 1), std::clamp(y0 + y, 0, 11));
        });
    };
    // Past the top-left corner, the right border of the first only, the right and the bottom, the
    // bottom only.
    for (auto [x0, y0] : {std::pair{-4, -4}, {12, 0}, {12, 8}, {8, 6}}) {
        const double expected =
            calculate_ssim(block(texture, 16, x0, y0).get(), block(other, 24, x0, y0).get(), 0, 0);
        for (const ImagePtr& first : firsts)
            for (const ImagePtr& second : seconds)
                EXPECT_EQ(calculate_ssim(first.get(), second.get(), x0, y0), expected)
                    << x0 << ", " << y0 << ", depths " << first->depth << ", " << second->depth;
    }
}

// Scores the leading blocks of bands of several widths, from all of the band to less than a group,
// with each kernel this processor runs on its own and with leadingBlockScores, which hands each in
// turn what the wider ones left: each scores every whole group it can, and gives the plain score.
void expectKernelsGivePlainScores(const std::uint8_t* const top[2], const std::ptrdiff_t strides[2],
                                  const std::vector<double>& plain) {
    std::vector<BlockKernel> ways(blockKernels().begin(), blockKernels().end());
    for (std::size_t way = 1; way < ways.size(); ++way)
        EXPECT_GT(ways[way - 1].group, ways[way].group) << "widest first";
    const std::size_t pairs = ways.empty() ? 0 : ways.back().group;  // the narrowest takes them
    ways.push_back({pairs, leadingBlockScores});
    ::testing::Test::RecordProperty("kernels", static_cast<int>(ways.size() - 1));
    for (std::size_t blocks : {plain.size(), std::size_t{1}, std::size_t{7}, std::size_t{13},
                               std::size_t{15}, std::size_t{63}}) {
        for (std::size_t way = 0; way < ways.size(); ++way) {
            std::vector<double> scores(blocks);
            const std::size_t scored =
                ways[way].score(top[0], strides[0], top[1], strides[1], 8 * blocks, scores.data());
            const std::size_t group = ways[way].group;
            EXPECT_EQ(scored, group == 0 ? 0 : blocks / group * group) << blocks << ", " << way;
            for (std::size_t block = 0; block < scored; ++block)
                ASSERT_EQ(scores[block], plain[block])
                    << "block " << block << " of " << blocks << ", way " << way;
        }
    }
}

// Every fast way of scoring a block gives the plain two-pass score bit for bit: every vector
// kernel this processor runs (the SSE2 baseline, AVX2 and AVX-512 where it has them), the
// single-block score and so the mean's scores, on blocks side by side in one band: random textures
// from flat to wild against unrelated or noisy copies, and every pair of extreme blocks.
TEST(FastBlockSSIM, GivesThePlainScoreBitForBit) {
    std::mt19937 random(20261207);
    std::vector<int> a;
    std::vector<int> b;
    const auto draw = [&random](int count) { return static_cast<int>(random() % count); };
    for (int round = 0; round < 5001; ++round) {
        const int centre = draw(256);
        const int spread = draw(61);
        for (int i = 0; i < 64; ++i) {
            a.push_back(correctValue(centre + draw(2 * spread + 1) - spread, 255));
            b.push_back(correctValue(round % 2 ? draw(256) : a.back() + draw(61) - 30, 255));
        }
    }
    const Levels extremes[] = {[](int, int) { return 0; }, [](int, int) { return 255; }, kRampUp,
                               kRampDown, [](int x, int y) { return (x + y) % 2 * 255; }};
    for (const Levels& first : extremes)
        for (const Levels& second : extremes)
            for (int i = 0; i < 64; ++i)
                a.push_back(first(i % 8, i / 8)), b.push_back(second(i % 8, i / 8));
    const int blocks = static_cast<int>(a.size() / 64);  // 8k + 2: the widest kernels leave a tail
    const auto byBlock = [](const std::vector<int>& levels) {
        return [&levels](int x, int y) { return levels[64 * (x / 8) + 8 * y + x % 8]; };
    };
    ImagePtr first = greyImage(8 * blocks, 8, byBlock(a));
    ImagePtr second = greyImage(8 * blocks, 8, byBlock(b));
    const std::size_t width = 8 * static_cast<std::size_t>(blocks);
    // The kernels and meanSSIMofRows also read rows with filler between them, a stride each, the
    // second picture's rows stored bottom-up.
    const auto step = static_cast<std::ptrdiff_t>(width);
    const std::ptrdiff_t strides[2] = {step + 8, -(step + 24)};
    std::vector<std::uint8_t> padded[2];
    std::uint8_t* top[2] = {};
    for (int i = 0; i < 2; ++i) {
        const Image* image = i == 0 ? first.get() : second.get();
        const std::ptrdiff_t bytes = std::abs(strides[i]);
        padded[i].assign(static_cast<std::size_t>(bytes) * 8, 0xa5);
        top[i] = padded[i].data() + (strides[i] < 0 ? 7 * bytes : 0);
        for (std::ptrdiff_t row = 0; row < 8; ++row)
            std::copy_n(image->data + row * step, width, top[i] + row * strides[i]);
    }
    std::vector<std::vector<double>> scores(2, std::vector<double>(blocks));
    meanSSIM(first.get(), second.get(), scores[0].data());
    meanSSIMofRows({top[0], strides[0]}, {top[1], strides[1]}, width, 8, scores[1].data());
    std::vector<double> plain(blocks);
    for (int block = 0; block < blocks; ++block) {
        plain[block] = plainBlockSSIM(first.get(), second.get(), 8 * block, 0);
        const std::uint8_t* at[2] = {first->data + 8 * block, second->data + 8 * block};
        ASSERT_EQ(fastBlockSSIM(at[0], width, at[1], width), plain[block]) << block;
    }
    for (int way = 0; way < 2; ++way)
        for (int block = 0; block < blocks; ++block)
            ASSERT_EQ(scores[way][block], plain[block]) << "block " << block << ", way " << way;
    expectKernelsGivePlainScores(top, strides, plain);
}

// Pairs that cannot be compared, and pairs without blocks, have no mean: a plain NaN, and no
// read past the smaller image.
TEST(MeanSSIM, PairsWithoutAMeanGiveNaN) {
    ImagePtr large = greyImage(16, 16, kRampUp);
    ImagePtr small = greyImage(8, 8, kRampUp);
    ImagePtr colour = greyImage(16, 16, kRampUp, 24);
    ImagePtr empty(createImage(0, 0, 8));
    Image noData{16, 16, 8, nullptr};
    for (auto [first, second] : {std::pair{large.get(), small.get()},
                                 {small.get(), large.get()},
                                 {colour.get(), colour.get()},
                                 {empty.get(), empty.get()},
                                 {large.get(), static_cast<Image*>(nullptr)},
                                 {&noData, large.get()}}) {
        const double mean = meanSSIM(first, second);
        EXPECT_TRUE(std::isnan(mean) && !std::signbit(mean));
    }
    // Nor has a block of an image without pixels.
    for (const Image* none : {static_cast<Image*>(nullptr), &noData, empty.get()})
        EXPECT_TRUE(std::isnan(calculate_ssim(none, large.get(), 0, 0)) &&
                    std::isnan(calculate_ssim(large.get(), none, 8, 8)));
}

}  // namespace
}  // namespace likeness
