// Wang, Bovik, Sheikh and Simoncelli's later ssim.m, which libvmaf follows too: for pictures whose
// shorter side is about 2 * 256 or more, each is first averaged over f x f boxes as MATLAB's
// imfilter(img, ones(f) / f^2, 'symmetric', 'same') does, and every f-th row and column is kept,
// starting with the first; then the Gaussian windows of ssim_index.m.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "metric/local_windows.h"

namespace likeness {

namespace {

// A position mirrored into 0..side - 1 as 'symmetric' pads: the border pixel repeated first, then
// the ones inside it.
int mirrored(int at, int side) {
    if (at < 0) return -1 - at;
    if (at >= side) return 2 * side - 1 - at;
    return at;
}

// imfilter's box for a kept pixel starts (f - 1) / 2 before it: its origin is the middle tap, the
// upper-left of the two middle ones when f is even.
int boxStart(int kept, int scale) {
    return kept * scale - (scale - 1) / 2;
}

// The kept pixels of a picture from kept row top on, rows of them, each the average over its box:
// the exact integer sum over f^2.
std::vector<double> keptPixels(GreyRows picture, int width, int height, int scale, int top,
                               int rows) {
    const int keptWidth = scaledSide(width, scale);
    std::vector<double> kept(static_cast<std::size_t>(keptWidth) * rows);
    std::vector<std::int64_t> columns(static_cast<std::size_t>(width));
    const auto boxes = static_cast<double>(scale) * scale;
    for (int y = 0; y < rows; ++y) {
        std::fill(columns.begin(), columns.end(), 0);
        for (int i = 0; i < scale; ++i) {
            const std::uint8_t* row =
                picture.data + mirrored(boxStart(top + y, scale) + i, height) * picture.stride;
            for (int x = 0; x < width; ++x) columns[x] += row[x];
        }
        double* out = kept.data() + static_cast<std::size_t>(y) * keptWidth;
        for (int x = 0; x < keptWidth; ++x) {
            std::int64_t sum = 0;
            for (int j = 0; j < scale; ++j) sum += columns[mirrored(boxStart(x, scale) + j, width)];
            out[x] = static_cast<double>(sum) / boxes;
        }
    }
    return kept;
}

}  // namespace

int scaleOf(int width, int height) {
    return std::max(1, (std::min(width, height) + 128) / 256);
}

void wangScaledScores(GreyRows first, GreyRows second, int width, int height, int firstRow,
                      int rows, double* scores) {
    const int scale = scaleOf(width, height);
    const int keptWidth = scaledSide(width, scale);
    // The kept rows that the rows of windows cover: ten more than there are of them.
    const int keptRows = rows + 10;
    // Averages over 1 x 1 boxes are the levels themselves.
    if (scale == 1) {
        first.data += firstRow * first.stride;
        second.data += firstRow * second.stride;
        return wangScores(first, second, width, keptRows, scores);
    }
    const std::vector<double> a = keptPixels(first, width, height, scale, firstRow, keptRows);
    const std::vector<double> b = keptPixels(second, width, height, scale, firstRow, keptRows);
    gaussianScores(Planes<double>{a.data(), keptWidth, b.data(), keptWidth, keptWidth, keptRows},
                   scores);
}

}  // namespace likeness
