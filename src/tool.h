// What the command-line programs share: reading and checking a pair of files, and everything
// they say. The messages are the programs' own; the library never prints.
#pragma once

#include <vector>

#include "compare.h"

namespace likeness {

// Prints that names are missing, then the program's usage line.
void printUsage(const char* usage);

// Compares the two files with compareFiles. Prints the refusal and returns false when they cannot
// be compared, at the first failure in this order: the first file, the second, the depths, the
// sizes, the multiples of the block size.
bool compareReadablePair(const char* firstPath, const char* secondPath, Comparison* comparison,
                         std::vector<double>* scores = nullptr);

// Prints the result line; false when standard output could not take it.
bool printResult(double mean);

// Prints that the output image cannot be written.
void printCannotWrite();

}  // namespace likeness
