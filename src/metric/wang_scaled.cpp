// Wang, Bovik, Sheikh and Simoncelli's later ssim.m, which libvmaf follows too: for pictures whose
// shorter side is about 2 * 256 or more, each is first averaged over f x f boxes as MATLAB's
// imfilter(img, ones(f) / f^2, 'symmetric', 'same') does, and every f-th row and column is kept,
// starting with the first; then the Gaussian windows of ssim_index.m.
#include <algorithm>
#include <cstdint>

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

// The average over the box of the kept pixel (x, y): the exact integer sum over f^2.
double boxAverage(GreyRows picture, int width, int height, int scale, int x, int y) {
    std::int64_t sum = 0;
    for (int i = 0; i < scale; ++i) {
        const std::uint8_t* row =
            picture.data + mirrored(boxStart(y, scale) + i, height) * picture.stride;
        for (int j = 0; j < scale; ++j) sum += row[mirrored(boxStart(x, scale) + j, width)];
    }
    return static_cast<double>(sum) / static_cast<double>(scale * scale);
}

}  // namespace

int scaleOf(int width, int height) {
    return std::max(1, (std::min(width, height) + 128) / 256);
}

void wangScaledScores(GreyRows first, GreyRows second, int width, int height, double* scores) {
    const int scale = scaleOf(width, height);
    const int keptWidth = scaledSide(width, scale);
    const DoubleRows rows = [&](int y, double* a, double* b) {
        for (int x = 0; x < keptWidth; ++x) {
            a[x] = boxAverage(first, width, height, scale, x, y);
            b[x] = boxAverage(second, width, height, scale, x, y);
        }
    };
    gaussianScores(rows, keptWidth, scaledSide(height, scale), scores);
}

}  // namespace likeness
