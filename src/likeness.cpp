#include "likeness.h"

#include <cstring>
#include <limits>

namespace likeness {

namespace {

// The index is SSIM over uniform 8 x 8 windows that do not overlap, with the sample variance and
// covariance (divisor N - 1) and dynamic range 255: C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2,
// written as the decimals they are rather than computed.
constexpr double kC1 = 6.5025;
constexpr double kC2 = 58.5225;
constexpr int kBlockPixels = kBlockSize * kBlockSize;

double redAt(const Image* image, int x, int y) {
    Pixel pixel{0, 0, 0};
    getPixel(image, x, y, &pixel);
    return pixel.r;
}

// The index from the means, the variances and the covariance of one block pair; the divisions by
// N - 1 happen here, so that both ways of computing the block share them.
double combine(double meanA, double meanB, double squaresA, double squaresB, double products) {
    const double va = squaresA / (kBlockPixels - 1);
    const double vb = squaresB / (kBlockPixels - 1);
    const double cab = products / (kBlockPixels - 1);
    return ((meanA + meanA) * meanB + kC1) * ((cab + cab) + kC2) /
           (((meanA * meanA + meanB * meanB) + kC1) * ((va + vb) + kC2));
}

bool insideGrey(const Image* image, int x0, int y0) {
    return image->depth == 8 && image->data != nullptr && x0 >= 0 && y0 >= 0 &&
           x0 <= image->width - kBlockSize && y0 <= image->height - kBlockSize;
}

const std::uint8_t* blockStart(const Image* image, int x0, int y0) {
    return image->data + static_cast<std::size_t>(y0) * static_cast<std::size_t>(image->width) +
           static_cast<std::size_t>(x0);
}

}  // namespace

int checkPair(const Image* first, const Image* second) {
    if (first == nullptr || second == nullptr) return kPairNotGrey;
    if (first->depth != 8 || second->depth != 8) return kPairNotGrey;
    if (first->height != second->height || first->width != second->width) return kPairSizesDiffer;
    if (first->height % kBlockSize != 0 || first->width % kBlockSize != 0) return kPairNotDivisible;
    return kPairOk;
}

// Two passes in the same order, each square the product of a difference with itself, so that a
// block compared with itself gives equal variances and covariance and scores exactly 1.
double plainBlockSSIM(const Image* first, const Image* second, int x0, int y0) {
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
    return combine(meanA, meanB, squaresA, squaresB, products);
}

// Every value the two passes sum is a multiple of 1/4096 far below 2^53, so their sums are exact:
// sum (a - meanA)^2 = (64 sum a^2 - (sum a)^2) / 64, and so on. Integer sums over the block give
// those doubles bit for bit, and combine() takes it from there.
double fastBlockSSIM(const std::uint8_t* first, std::size_t firstStride, const std::uint8_t* second,
                     std::size_t secondStride) {
    // Gathered into one run of 64 and widened to 16 bits, the block takes loops the compiler
    // turns into vector code: the sums of squares and products become 16-bit dot products.
    std::uint8_t rowsA[kBlockPixels];
    std::uint8_t rowsB[kBlockPixels];
    for (int row = 0; row < kBlockSize; ++row) {
        std::memcpy(rowsA + row * kBlockSize, first + row * firstStride, kBlockSize);
        std::memcpy(rowsB + row * kBlockSize, second + row * secondStride, kBlockSize);
    }
    std::int16_t a[kBlockPixels];
    std::int16_t b[kBlockPixels];
    for (int i = 0; i < kBlockPixels; ++i) {
        a[i] = rowsA[i];
        b[i] = rowsB[i];
    }
    std::int16_t sumA = 0;  // at most 64 * 255
    std::int16_t sumB = 0;
    std::int32_t squaresA = 0;  // at most 64 * 255^2
    std::int32_t squaresB = 0;
    std::int32_t products = 0;
    for (int i = 0; i < kBlockPixels; ++i) {
        sumA = static_cast<std::int16_t>(sumA + a[i]);
        sumB = static_cast<std::int16_t>(sumB + b[i]);
        squaresA += a[i] * a[i];
        squaresB += b[i] * b[i];
        products += a[i] * b[i];
    }
    const std::int64_t n = kBlockPixels;
    return combine(sumA / static_cast<double>(n), sumB / static_cast<double>(n),
                   static_cast<double>(n * squaresA - std::int64_t{sumA} * sumA) / n,
                   static_cast<double>(n * squaresB - std::int64_t{sumB} * sumB) / n,
                   static_cast<double>(n * products - std::int64_t{sumA} * sumB) / n);
}

double calculate_ssim(const Image* first, const Image* second, int x0, int y0) {
    if (insideGrey(first, x0, y0) && insideGrey(second, x0, y0)) {
        return fastBlockSSIM(blockStart(first, x0, y0), static_cast<std::size_t>(first->width),
                             blockStart(second, x0, y0), static_cast<std::size_t>(second->width));
    }
    return plainBlockSSIM(first, second, x0, y0);
}

double meanSSIM(const Image* first, const Image* second, double* scores) {
    // A pair of other sizes would take the walk past the end of the smaller image.
    if (checkPair(first, second) != kPairOk) return std::numeric_limits<double>::quiet_NaN();
    const int blocks = (first->height / kBlockSize) * (first->width / kBlockSize);
    // 0 / 0 would print as "-nan" on common platforms; an empty pair is plainly "nan".
    if (blocks == 0) return std::numeric_limits<double>::quiet_NaN();
    const auto stride = static_cast<std::size_t>(first->width);
    double sum = 0.0;
    for (int y0 = 0; y0 + kBlockSize <= first->height; y0 += kBlockSize) {
        for (int x0 = 0; x0 + kBlockSize <= first->width; x0 += kBlockSize) {
            const double score = fastBlockSSIM(blockStart(first, x0, y0), stride,
                                               blockStart(second, x0, y0), stride);
            if (scores != nullptr) *scores++ = score;
            sum += score;
        }
    }
    return sum / blocks;
}

}  // namespace likeness
