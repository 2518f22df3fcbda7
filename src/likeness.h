// Structural similarity (SSIM) of two grey images over a grid of 8 x 8 blocks.
#pragma once

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
};

// Checks, in this order, the depth of both images, that their sizes agree and that the sides
// are multiples of kBlockSize.
int checkPair(const Image* first, const Image* second);

// SSIM of the 8 x 8 block whose top-left pixel is (x0, y0) in first against the same block of
// second. Reads the red component (the grey level of 8-bit images); pixels past the border
// repeat the nearest border pixel.
double calculate_ssim(const Image* first, const Image* second, int x0, int y0);

// Mean of calculate_ssim over every block of two images that passed checkPair, block rows top
// first and each row from the left. Images without blocks give a not-a-number.
double meanSSIM(const Image* first, const Image* second);

}  // namespace likeness
