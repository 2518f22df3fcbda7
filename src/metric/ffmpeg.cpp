// ffmpeg's ssim filter as its plain C code computes it for 8-bit planes, which is x264's method:
// sums over 4 x 4 blocks, each 8 x 8 window the four blocks at every fourth row and column (the
// blocks that fit whole; pixels past the last whole block are left out), and x264's constants
// for sums over 64 pixels: c1 = round(0.01^2 * 255^2 * 64), c2 = round(0.03^2 * 255^2 * 64 * 63).
// Its float index is computed here in double from the same exact integers.
#include <cstdint>
#include <utility>
#include <vector>

#include "metric/local_windows.h"

namespace likeness {

namespace {

constexpr int kBlock = 4;
constexpr std::int64_t kC1 = 416;
constexpr std::int64_t kC2 = 235963;
constexpr std::int64_t kWindowPixels = 64;

// The sums over each 4 x 4 block of a row of blocks: the levels of the first picture and of the
// second, the squares of both, their products.
struct BlockSums {
    std::int32_t first, second, squares, products;
};

void sumBlocks(GreyRows a, GreyRows b, int blockRow, std::vector<BlockSums>* sums) {
    for (BlockSums& s : *sums) s = {};
    for (int y = blockRow * kBlock; y < (blockRow + 1) * kBlock; ++y) {
        const std::uint8_t* p = a.data + y * a.stride;
        const std::uint8_t* q = b.data + y * b.stride;
        for (BlockSums& s : *sums) {
            for (int x = 0; x < kBlock; ++x) {
                const std::int32_t u = p[x];
                const std::int32_t v = q[x];
                s.first += u;
                s.second += v;
                s.squares += u * u + v * v;
                s.products += u * v;
            }
            p += kBlock;
            q += kBlock;
        }
    }
}

double windowScore(std::int64_t s1, std::int64_t s2, std::int64_t ss, std::int64_t s12) {
    const std::int64_t variances = ss * kWindowPixels - s1 * s1 - s2 * s2;
    const std::int64_t covariance = s12 * kWindowPixels - s1 * s2;
    return static_cast<double>(2 * s1 * s2 + kC1) * static_cast<double>(2 * covariance + kC2) /
           (static_cast<double>(s1 * s1 + s2 * s2 + kC1) * static_cast<double>(variances + kC2));
}

void scoreRow(const std::vector<BlockSums>& top, const std::vector<BlockSums>& bottom,
              double* scores) {
    for (std::size_t x = 0; x + 1 < top.size(); ++x) {
        const BlockSums& a = top[x];
        const BlockSums& b = top[x + 1];
        const BlockSums& c = bottom[x];
        const BlockSums& d = bottom[x + 1];
        scores[x] = windowScore(std::int64_t{a.first} + b.first + c.first + d.first,
                                std::int64_t{a.second} + b.second + c.second + d.second,
                                std::int64_t{a.squares} + b.squares + c.squares + d.squares,
                                std::int64_t{a.products} + b.products + c.products + d.products);
    }
}

}  // namespace

void ffmpegScores(GreyRows first, GreyRows second, int width, int height, double* scores) {
    const int blocks = width / kBlock;
    std::vector<BlockSums> top(blocks);
    std::vector<BlockSums> bottom(blocks);
    sumBlocks(first, second, 0, &top);
    for (int row = 1; row < height / kBlock; ++row) {
        sumBlocks(first, second, row, &bottom);
        scoreRow(top, bottom, scores + static_cast<std::ptrdiff_t>(row - 1) * (blocks - 1));
        std::swap(top, bottom);
    }
}

}  // namespace likeness
