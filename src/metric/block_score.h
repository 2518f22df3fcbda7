// How a pair of 8 x 8 blocks is scored, shared by the plain and the fast ways of computing it, and
// the kernels that score many blocks at once with the processor's vector instructions. Internal
// to the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "likeness/likeness.h"

namespace likeness {

// Internal linkage: this header is also compiled with AVX2 and AVX-512 enabled, and the linker must
// never take that code for the code that any processor runs.
namespace {

// The index is SSIM over uniform 8 x 8 windows that do not overlap, with the sample variance and
// covariance (divisor N - 1) and dynamic range 255: C1 = (0.01 * 255)^2, C2 = (0.03 * 255)^2,
// written as the decimals they are rather than computed.
constexpr double kC1 = 6.5025;
constexpr double kC2 = 58.5225;
constexpr double kBlockPixels = 64;

// The index from the means, and the sums of the squared differences from them and of their
// products, for one block pair (T = double) or a vector of them. The divisions by N - 1 happen
// here; every lane of a vector takes the same operations in the same order, so each block gets
// the same bits whichever way it is scored.
template <class T>
T combine(T meanA, T meanB, T squaresA, T squaresB, T products) {
    const T va = squaresA / (kBlockPixels - 1);
    const T vb = squaresB / (kBlockPixels - 1);
    const T cab = products / (kBlockPixels - 1);
    return ((meanA + meanA) * meanB + kC1) * ((cab + cab) + kC2) /
           (((meanA * meanA + meanB * meanB) + kC1) * ((va + vb) + kC2));
}

// The index from integer sums over the block pair: of the grey levels, their squares and their
// products. The two-pass sums are multiples of 1/4096 far below 2^53, so these give them exactly:
// sum (a - meanA)^2 = (64 sum a^2 - (sum a)^2) / 64, and so on, every step exact in doubles.
template <class T>
T scoreFromSums(T sumA, T sumB, T squaresA, T squaresB, T products) {
    const double n = kBlockPixels;
    return combine<T>(sumA / n, sumB / n, (n * squaresA - sumA * sumA) / n,
                      (n * squaresB - sumB * sumB) / n, (n * products - sumA * sumB) / n);
}

}  // namespace

// Scores the blocks of one band of 8 rows of two images width bytes wide, from the left, with the
// vector units of this processor: every whole pair of blocks on x86-64, none elsewhere. Each image
// gives its band's top row and the bytes from one row to the next, negative where rows are stored
// bottom-up. Returns the number of blocks scored; the rest of the band is the caller's.
std::size_t leadingBlockScores(const std::uint8_t* first, std::ptrdiff_t firstStride,
                               const std::uint8_t* second, std::ptrdiff_t secondStride,
                               std::size_t width, double* scores);

// Scores every block of such a band, left to right: leadingBlockScores, then one by one.
void scoreBand(GreyRows first, GreyRows second, std::size_t width, double* scores);

// A kernel scores the leading blocks of a band as leadingBlockScores does, in whole groups of
// `group` blocks, and returns how many it scored.
struct BlockKernel {
    std::size_t group;
    std::size_t (*score)(const std::uint8_t* first, std::ptrdiff_t firstStride,
                         const std::uint8_t* second, std::ptrdiff_t secondStride, std::size_t width,
                         double* scores);
};

// The kernels this processor runs, widest first: 512-bit vectors where it has AVX-512 F, BW, VNNI,
// 256-bit ones where it has AVX2, 128-bit ones with the SSE2 that every x86-64 has; none on other
// processor families. leadingBlockScores hands each in turn what the wider ones left.
std::span<const BlockKernel> blockKernels();

// The kernels built for x86-64, each for the vector unit its name says: only blockKernels() knows
// whether this processor may run them.
extern const BlockKernel kBaselineKernel;
extern const BlockKernel kAVX2Kernel;
extern const BlockKernel kAVX512Kernel;

}  // namespace likeness
