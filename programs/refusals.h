// What likeness and likeness-map say: the refusals of a pair, in the programs' own Shift_JIS
// messages, and the result line. The library never prints.
#pragma once

#include "likeness/engine.h"

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

}  // namespace likeness
