// What the command-line programs share: reading and checking a pair of files, drawing block
// maps, and everything they say. The messages are the programs' own; the library never prints.
#pragma once

#include <vector>

#include "likeness/engine.h"
#include "likeness/image.h"
#include "likeness/read_limits.h"

namespace likeness {

// Prints that names are missing, then the program's usage line.
void printUsage(const char* usage);

// Compares the two files, keeping the block scores when asked to. Prints the refusal and returns
// false when they cannot be compared, at the first failure in this order: the first file, the
// second, the depths, the sizes, the multiples of the block size.
bool compareReadablePair(const char* firstPath, const char* secondPath, bool blockScores,
                         Comparison* comparison);

// Prints the result line; false when standard output could not take it.
bool printResult(double mean);

// Prints that the output image cannot be written.
void printCannotWrite();

// The ceiling on compressed pictures: LIKENESS_MAX_PIXELS pixels when it is a plain decimal
// number, 0 lifting it. Any other value keeps the default, so that a mistyped one never lifts
// the protection; there is no message to say so that the programs could print.
ReadLimits limitsFromEnvironment();

// The image as the programs compare it: a 24-bit image whose every pixel is grey becomes its 8-bit
// twin; with luma, any 24-bit image becomes its luma. Other images are handed on as they are, to
// be refused by checkPair.
ImagePtr comparableImage(ImagePtr image, bool luma);

// An 8-bit image of the given size with every block filled with the grey level of its score,
// round(255 s), s clamped to 0..1 first, so that negative scores are as dark as unrelated
// blocks; scores holds one score a block, in row order. nullptr when memory is exhausted.
ImagePtr blockMap(int width, int height, const std::vector<double>& scores);

}  // namespace likeness
