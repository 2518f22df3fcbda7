// Structural similarity (SSIM) of two grey images over a grid of 8 x 8 blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image.h"

namespace likeness {

// Side of the square blocks the images are cut into.
constexpr int kBlockSize = 8;

// Why two images cannot be compared; kPairOk when they can.
enum PairCheck {
    kPairOk = 0,
    kPairNotGrey,       // either image is not 8 bits per pixel
    kPairSizesDiffer,   // heights or widths differ
    kPairNotDivisible,  // a side is not a multiple of kBlockSize
    kPairTooSmall,      // a side is shorter than the window of the metric asked for
};

// Checks, in this order, that both images are there with their pixels and 8 bits deep, that
// their sizes agree and that the sides are multiples of kBlockSize.
int checkPair(const Image* first, const Image* second);

// The same checks on what two images would be, for a caller whose pixels lie elsewhere (in a
// file still being read): only the depths and sides count, not the data.
int checkShapes(const Image& first, const Image& second);

// SSIM of the 8 x 8 block whose top-left pixel is (x0, y0) in first against the same block of
// second. Reads the red component (the grey level of 8-bit images); pixels past the border
// repeat the nearest border pixel. Blocks wholly inside two 8-bit images take fastBlockSSIM,
// all others plainBlockSSIM; both give the same bits. An image whose pixels getPixel cannot read
// (none, no data, no rows or columns, another depth) gives a not-a-number.
double calculate_ssim(const Image* first, const Image* second, int x0, int y0);

// The block SSIM computed literally, in two passes of double arithmetic over getPixel: the
// reference, for any block of any image (a not-a-number, as above, for one it cannot read).
double plainBlockSSIM(const Image* first, const Image* second, int x0, int y0);

// The block SSIM from exact integer sums over two blocks of 8-bit grey levels, each given by its
// top-left byte and the bytes from one row to the next (negative where rows are stored bottom-up).
double fastBlockSSIM(const std::uint8_t* first, std::ptrdiff_t firstStride,
                     const std::uint8_t* second, std::ptrdiff_t secondStride);

// Grey levels kept in a caller's own buffer: the top-left byte, and the bytes from the start of
// one row to the start of the next (at least the width; negative where rows are stored
// bottom-up, and then at least the width below zero).
struct GreyRows {
    const std::uint8_t* data;
    std::ptrdiff_t stride;
};

// Mean block SSIM of two width x height grey pictures in memory, and every block's score when
// scores is given, in the order and with the bits of meanSSIM on the same levels. The sides must be
// multiples of kBlockSize; other sides, and pictures without blocks, give a not-a-number.
double meanSSIMofRows(GreyRows first, GreyRows second, std::size_t width, std::size_t height,
                      double* scores = nullptr);

// Mean of calculate_ssim over every block of two images, block rows top first and each row from
// the left. Images without blocks, and a pair that fails checkPair, give a not-a-number. When
// scores is given it receives every block's score in that order, (height / 8) * (width / 8) of
// them.
double meanSSIM(const Image* first, const Image* second, double* scores = nullptr);

// An 8-bit image of the given size with every block filled with the grey level of its score,
// round(255 s), s clamped to 0..1 first, so that negative scores are as dark as unrelated
// blocks, and a not-a-number (a block left out) white; scores holds one score a block, in row
// order. nullptr when memory is exhausted.
ImagePtr blockMap(int width, int height, const std::vector<double>& scores);

}  // namespace likeness
