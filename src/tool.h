// What the command-line programs share: reading and checking a pair of files, and everything
// they say. The messages are the programs' own; the library never prints.
#pragma once

#include "image.h"

namespace likeness {

// Prints that names are missing, then the program's usage line.
void printUsage(const char* usage);

// Reads both files and checks that they can be compared, in this order: the first file, the
// second, the depths, the sizes, the multiples of the block size. Prints the refusal and returns
// false at the first failure; on success first and second hold the images.
bool readComparablePair(const char* firstPath, const char* secondPath, ImagePtr* first,
                        ImagePtr* second);

// Prints the result line; false when standard output could not take it.
bool printResult(double mean);

// Prints that the output image cannot be written.
void printCannotWrite();

}  // namespace likeness
