#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "likeness/likeness.h"
#include "likeness/metrics.h"
#include "metric/block_score.h"

namespace likeness {

namespace {

double redAt(const Image* image, int x, int y) {
    Pixel pixel{0, 0, 0};
    getPixel(image, x, y, &pixel);
    return pixel.r;
}

// False for what getPixel cannot read: no image, no pixels, no rows or columns, another depth.
bool hasPixels(const Image* image) {
    Pixel pixel{0, 0, 0};
    return getPixel(image, 0, 0, &pixel) >= 0;
}

bool insideGrey(const Image* image, int x0, int y0) {
    return image != nullptr && image->depth == 8 && image->data != nullptr && x0 >= 0 && y0 >= 0 &&
           x0 <= image->width - kBlockSize && y0 <= image->height - kBlockSize;
}

const std::uint8_t* blockStart(const Image* image, int x0, int y0) {
    return image->data + static_cast<std::size_t>(y0) * static_cast<std::size_t>(image->width) +
           static_cast<std::size_t>(x0);
}

// Integer sums over one pair of blocks: of the grey levels, their squares and their products.
struct BlockSums {
    std::int32_t sumA;  // at most 64 * 255
    std::int32_t sumB;
    std::int32_t squaresA;  // at most 64 * 255^2
    std::int32_t squaresB;
    std::int32_t products;
};

BlockSums blockSums(const std::uint8_t* first, std::ptrdiff_t firstStride,
                    const std::uint8_t* second, std::ptrdiff_t secondStride) {
    BlockSums sums{0, 0, 0, 0, 0};
    for (int row = 0; row < kBlockSize; ++row) {
        for (int column = 0; column < kBlockSize; ++column) {
            const std::int32_t a = first[row * firstStride + column];
            const std::int32_t b = second[row * secondStride + column];
            sums.sumA += a;
            sums.sumB += b;
            sums.squaresA += a * a;
            sums.squaresB += b * b;
            sums.products += a * b;
        }
    }
    return sums;
}

// The grey level of a block score in a map; a block left out, which has no score, is white.
int mapLevel(double score) {
    if (std::isnan(score)) return 255;
    return static_cast<int>(std::lround(255.0 * std::clamp(score, 0.0, 1.0)));
}

}  // namespace

void scoreBand(GreyRows first, GreyRows second, std::size_t width, double* scores) {
    const std::size_t blocks = width / kBlockSize;
    for (std::size_t block = leadingBlockScores(first.data, first.stride, second.data,
                                                second.stride, width, scores);
         block < blocks; ++block) {
        const std::size_t x0 = block * kBlockSize;
        scores[block] =
            fastBlockSSIM(first.data + x0, first.stride, second.data + x0, second.stride);
    }
}

int checkPair(const Image* first, const Image* second) {
    if (first == nullptr || second == nullptr || first->data == nullptr || second->data == nullptr)
        return kPairNotGrey;
    return checkShapes(*first, *second);
}

int checkShapes(const Image& first, const Image& second) {
    if (first.depth != 8 || second.depth != 8) return kPairNotGrey;
    if (first.height != second.height || first.width != second.width) return kPairSizesDiffer;
    if (first.height % kBlockSize != 0 || first.width % kBlockSize != 0) return kPairNotDivisible;
    return kPairOk;
}

// Two passes in the same order, each square the product of a difference with itself, so that a
// block compared with itself gives equal variances and covariance and scores exactly 1.
double plainBlockSSIM(const Image* first, const Image* second, int x0, int y0) {
    if (!hasPixels(first) || !hasPixels(second)) return std::numeric_limits<double>::quiet_NaN();
    double sumA = 0.0;
    double sumB = 0.0;
    for (int y = y0; y < y0 + kBlockSize; ++y) {
        for (int x = x0; x < x0 + kBlockSize; ++x) {
            sumA += redAt(first, x, y);
            sumB += redAt(second, x, y);
        }
    }
    const double meanA = sumA / kBlockPixels;
    const double meanB = sumB / kBlockPixels;
    double squaresA = 0.0;
    double squaresB = 0.0;
    double products = 0.0;
    for (int y = y0; y < y0 + kBlockSize; ++y) {
        for (int x = x0; x < x0 + kBlockSize; ++x) {
            const double da = redAt(first, x, y) - meanA;
            const double db = redAt(second, x, y) - meanB;
            squaresA += da * da;
            squaresB += db * db;
            products += da * db;
        }
    }
    return combine<double>(meanA, meanB, squaresA, squaresB, products);
}

double fastBlockSSIM(const std::uint8_t* first, std::ptrdiff_t firstStride,
                     const std::uint8_t* second, std::ptrdiff_t secondStride) {
    const BlockSums sums = blockSums(first, firstStride, second, secondStride);
    return scoreFromSums<double>(sums.sumA, sums.sumB, sums.squaresA, sums.squaresB, sums.products);
}

double calculate_ssim(const Image* first, const Image* second, int x0, int y0) {
    if (insideGrey(first, x0, y0) && insideGrey(second, x0, y0)) {
        return fastBlockSSIM(blockStart(first, x0, y0), first->width, blockStart(second, x0, y0),
                             second->width);
    }
    return plainBlockSSIM(first, second, x0, y0);
}

double meanSSIMofRows(GreyRows first, GreyRows second, std::size_t width, std::size_t height,
                      double* scores) {
    const std::size_t blocks = (height / kBlockSize) * (width / kBlockSize);
    // 0 / 0 would print as "-nan" on common platforms; an empty pair is plainly "nan".
    if (blocks == 0 || width % kBlockSize != 0 || height % kBlockSize != 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::vector<double> band(width / kBlockSize);
    double sum = 0.0;
    for (std::size_t y0 = 0; y0 < height; y0 += kBlockSize) {
        const auto row = static_cast<std::ptrdiff_t>(y0);
        scoreBand({first.data + row * first.stride, first.stride},
                  {second.data + row * second.stride, second.stride}, width, band.data());
        for (double score : band) {
            if (scores != nullptr) *scores++ = score;
            sum += score;
        }
    }
    return sum / static_cast<double>(blocks);
}

double meanSSIM(const Image* first, const Image* second, double* scores) {
    // A pair of other sizes would take the walk past the end of the smaller image.
    if (checkPair(first, second) != kPairOk) return std::numeric_limits<double>::quiet_NaN();
    const auto width = static_cast<std::size_t>(first->width);
    const auto stride = static_cast<std::ptrdiff_t>(width);
    return meanSSIMofRows({first->data, stride}, {second->data, stride}, width,
                          static_cast<std::size_t>(first->height), scores);
}

ImagePtr blockMap(int width, int height, const std::vector<double>& scores) {
    return windowMap(width, height, windowsOf(Metric::kBlocks, width, height), scores);
}

ImagePtr windowMap(int width, int height, const Windows& windows,
                   const std::vector<double>& scores) {
    ImagePtr map(createImage(width, height, 8));
    if (!map || windows.columns <= 0 || windows.rows <= 0) return map;
    for (int y = 0; y < height; ++y) {
        const int row = std::min(y / windows.step, windows.rows - 1);
        for (int x = 0; x < width; ++x) {
            const int column = std::min(x / windows.step, windows.columns - 1);
            const auto window = static_cast<std::size_t>(row) * windows.columns + column;
            const Pixel pixel{mapLevel(scores[window]), 0, 0};
            setPixel(map.get(), x, y, &pixel);
        }
    }
    return map;
}

}  // namespace likeness
