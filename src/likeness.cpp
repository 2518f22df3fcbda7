#include "likeness.h"

#include <limits>

namespace likeness {

namespace {

// The SSIM constants for dynamic range 255: (0.01 * 255)^2 and (0.03 * 255)^2.
constexpr double kC1 = 6.5025;
constexpr double kC2 = 58.5225;
constexpr int kBlockPixels = kBlockSize * kBlockSize;

double redAt(const Image* image, int x, int y) {
    Pixel pixel{0, 0, 0};
    getPixel(image, x, y, &pixel);
    return pixel.r;
}

}  // namespace

int checkPair(const Image* first, const Image* second) {
    if (first->depth != 8 || second->depth != 8) return kPairNotGrey;
    if (first->height != second->height || first->width != second->width) return kPairSizesDiffer;
    if (first->height % kBlockSize != 0 || first->width % kBlockSize != 0) return kPairNotDivisible;
    return kPairOk;
}

// SSIM over one window with uniform weights and the sample variance (divisor N - 1), windows not
// overlapping. Two passes in the same order, so that a block compared with itself gives
// va == vb == cab exactly and scores 1.
double calculate_ssim(const Image* first, const Image* second, int x0, int y0) {
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
    double va = 0.0;
    double vb = 0.0;
    double cab = 0.0;
    for (int y = y0; y < y0 + kBlockSize; ++y) {
        for (int x = x0; x < x0 + kBlockSize; ++x) {
            const double da = redAt(first, x, y) - meanA;
            const double db = redAt(second, x, y) - meanB;
            va += da * da;
            vb += db * db;
            cab += da * db;
        }
    }
    va /= kBlockPixels - 1;
    vb /= kBlockPixels - 1;
    cab /= kBlockPixels - 1;
    return ((meanA + meanA) * meanB + kC1) * ((cab + cab) + kC2) /
           (((meanA * meanA + meanB * meanB) + kC1) * ((va + vb) + kC2));
}

double meanSSIM(const Image* first, const Image* second) {
    const int blocks = (first->height / kBlockSize) * (first->width / kBlockSize);
    // 0 / 0 would print as "-nan" on common platforms; an empty pair is plainly "nan".
    if (blocks == 0) return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (int y0 = 0; y0 + kBlockSize <= first->height; y0 += kBlockSize) {
        for (int x0 = 0; x0 + kBlockSize <= first->width; x0 += kBlockSize) {
            sum += calculate_ssim(first, second, x0, y0);
        }
    }
    return sum / blocks;
}

}  // namespace likeness
