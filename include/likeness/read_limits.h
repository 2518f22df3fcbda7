// How far a reader trusts what a file claims.
#pragma once

#include <cstdint>

namespace likeness {

// 2^28 pixels, 16384 x 16384: within the picture size policies of common image libraries.
constexpr std::int64_t kDefaultMaxCompressedPixels = std::int64_t{1} << 28;

// A compressed picture (a run-length BMP, a PNG, a JPEG) needs memory for every pixel its header
// claims, however few bytes the file holds: a file of a kilobyte can claim gigabytes. One of more
// than maxCompressedPixels pixels is refused with kBadHeader before any pixel is decoded; 0 (or
// less) lifts the ceiling, leaving the image model's 2^31 - 1 bytes. Uncompressed BMP and PGM files
// need none: memory is only touched by the rows the file really holds.
struct ReadLimits {
    std::int64_t maxCompressedPixels = kDefaultMaxCompressedPixels;
};

// The ceiling on compressed pictures: LIKENESS_MAX_PIXELS pixels when it is a plain decimal
// number, 0 lifting it. Any other value keeps the default, so that a mistyped one never lifts
// the protection; there is no message to say so that a program could print.
ReadLimits limitsFromEnvironment();

}  // namespace likeness
