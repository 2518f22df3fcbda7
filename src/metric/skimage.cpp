// scikit-image's structural_similarity with its defaults for 8-bit pictures: uniform 7 x 7
// windows, data range 255, and the sample covariance (its means times 49 / 48), averaged over the
// windows that lie wholly inside the picture (it cuts 3 pixels off each side of its map).
#include <cstdint>
#include <vector>

#include "metric/local_windows.h"

namespace likeness {

namespace {

constexpr int kSide = 7;
constexpr std::int64_t kPixels = kSide * kSide;
// With sums S over the window, mean = S / 49 and covariance = (49 Sab - Sa Sb) / (49 * 48): the
// index is the same ratio with both factors of each side multiplied by 49^2 and 49 * 48, so that
// all but the constants is an exact integer.
constexpr double kMeanC1 = kWindowC1 * (kPixels * kPixels);
constexpr double kVarianceC2 = kWindowC2 * (kPixels * (kPixels - 1));

// The sums over a column of kSide pixels: of each picture's levels, of both their squares and of
// their products.
struct ColumnSums {
    std::vector<std::int32_t> first, second, squares, products;
    explicit ColumnSums(int width) : first(width), second(width), squares(width), products(width) {}
    // Adds (sign 1) or takes away (sign -1) row y of both pictures.
    void add(GreyRows a, GreyRows b, int y, int sign) {
        const std::uint8_t* p = a.data + y * a.stride;
        const std::uint8_t* q = b.data + y * b.stride;
        for (std::size_t x = 0; x < first.size(); ++x) {
            const std::int32_t u = p[x];
            const std::int32_t v = q[x];
            first[x] += sign * u;
            second[x] += sign * v;
            squares[x] += sign * (u * u + v * v);
            products[x] += sign * (u * v);
        }
    }
};

std::int64_t windowSum(const std::vector<std::int32_t>& columns, int x) {
    std::int64_t sum = 0;
    for (int i = 0; i < kSide; ++i) sum += columns[x + i];
    return sum;
}

void scoreRow(const ColumnSums& sums, int columns, double* scores) {
    for (int x = 0; x < columns; ++x) {
        const std::int64_t sa = windowSum(sums.first, x);
        const std::int64_t sb = windowSum(sums.second, x);
        const std::int64_t sab = sa * sb;
        const std::int64_t squares = sa * sa + sb * sb;
        const double means = static_cast<double>(sab + sab) + kMeanC1;
        const double covariance =
            static_cast<double>(2 * (kPixels * windowSum(sums.products, x) - sab)) + kVarianceC2;
        const double meanSquares = static_cast<double>(squares) + kMeanC1;
        const double variances =
            static_cast<double>(kPixels * windowSum(sums.squares, x) - squares) + kVarianceC2;
        scores[x] = (means * covariance) / (meanSquares * variances);
    }
}

}  // namespace

void skimageScores(GreyRows first, GreyRows second, int width, int height, double* scores) {
    const int columns = width - kSide + 1;
    ColumnSums sums(width);
    for (int y = 0; y < kSide - 1; ++y) sums.add(first, second, y, 1);
    for (int row = 0; row + kSide <= height; ++row) {
        sums.add(first, second, row + kSide - 1, 1);
        scoreRow(sums, columns, scores + static_cast<std::ptrdiff_t>(row) * columns);
        sums.add(first, second, row, -1);
    }
}

}  // namespace likeness
