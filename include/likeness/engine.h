// Two image files compared in one step, the fastest way their formats allow: the programs'
// whole work, for any program that compares files.
#pragma once

#include <vector>

#include "read_limits.h"

namespace likeness {

// What comparing two files came to. The verdict is the first failure in the programs' order:
// the first file cannot be read, the second cannot, then checkPair's (a picture that is not
// grey, sizes that differ, sides that are not multiples of the block size), or kPairOk.
struct Comparison {
    int verdict = 0;     // kPairOk, kFirstUnreadable, kSecondUnreadable or a PairCheck
    int firstWidth = 0;  // the sides, once both files are read
    int firstHeight = 0;
    int secondWidth = 0;
    int secondHeight = 0;
    double mean = 0;  // for kPairOk: what meanSSIM gives for the two images
};

constexpr int kFirstUnreadable = -1;
constexpr int kSecondUnreadable = -2;

// Compares the files at the two paths as readImageFile with limits and meanSSIM would, with a
// 24-bit file of grey pixels taken as its 8-bit twin, and gives the same bits. The second file is
// opened only once the first has been read, or found whole where its rows are read later. An
// uncompressed 8-bit or 24-bit BMP file and a binary PGM file of maxval 255, when they are regular
// files, are read a few rows at a time straight from the file into a buffer that stays in the cache
// and scored there, a large pair on two threads; a file that shrinks meanwhile cannot be read. The
// second thread may still be releasing its buffers for a moment after the call returns; it uses
// nothing of the caller's by then. Any other file, a pipe included, is read whole first. When
// scores is given it receives every block's score, as meanSSIM gives them.
Comparison compareFiles(const char* firstPath, const char* secondPath, const ReadLimits& limits,
                        std::vector<double>* scores = nullptr);

}  // namespace likeness
