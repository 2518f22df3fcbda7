// The kernels of the metrics whose windows overlap, one file each, and what they share. Internal
// to the library. Every kernel writes each window's score in row order, as localScores does, from
// exact integer sums or from double sums taken in a fixed order (their files are compiled without
// fused multiply-adds), so that each window has the same bits on every processor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "likeness/likeness.h"

namespace likeness {

// Dynamic range 255: C1 = (0.01 * 255)^2 and C2 = (0.03 * 255)^2 as the decimals they are.
constexpr double kWindowC1 = 6.5025;
constexpr double kWindowC2 = 58.5225;

// scikit-image's structural_similarity with its defaults for 8-bit pictures: 7 x 7 uniform
// windows at every position inside the picture, the sample variances and covariance.
void skimageScores(GreyRows first, GreyRows second, int width, int height, double* scores);

// ffmpeg's ssim filter (x264's method): 8 x 8 windows at every fourth row and column, from integer
// sums over 4 x 4 blocks, with x264's constants for sums over 64 pixels.
void ffmpegScores(GreyRows first, GreyRows second, int width, int height, double* scores);

// Wang, Bovik, Sheikh and Simoncelli's ssim_index.m: 11 x 11 Gaussian windows (standard deviation
// 1.5, weights summing to 1) at every position inside the picture, population variances.
void wangScores(GreyRows first, GreyRows second, int width, int height, double* scores);

// Their ssim.m: the pictures first averaged over f x f boxes and kept at every f-th row and column
// (f of scaleOf), then wangScores' windows on what is kept: the rows of windows from firstRow on,
// rows of them.
void wangScaledScores(GreyRows first, GreyRows second, int width, int height, int firstRow,
                      int rows, double* scores);

// ssim.m's f for a width x height picture: max(1, round(min(width, height) / 256)), halves away
// from zero as MATLAB rounds.
int scaleOf(int width, int height);

// Side of the pictures ssim.m keeps from a side of the given length: every f-th pixel from the
// first.
inline int scaledSide(int side, int scale) {
    return (side + scale - 1) / scale;
}

// Two width x height pictures of levels of one type, each with the elements from one row to the
// next.
template <class Level>
struct Planes {
    const Level* first;
    std::ptrdiff_t firstStride;
    const Level* second;
    std::ptrdiff_t secondStride;
    int width;
    int height;
};

// wangScores on two pictures of bytes or of doubles.
template <class Level>
void gaussianScores(Planes<Level> planes, double* scores);

}  // namespace likeness
