#include "refusals.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "likeness/likeness.h"

namespace likeness {

namespace {

// The messages are Shift_JIS (code page 932) bytes, written out as they stand. Each string is
// spelled in hex escapes; a literal that follows one is split off so that no digit is swallowed.

// "Not enough parameters."
constexpr char kNotEnoughParameters[] =
    "\x83\x70\x83\x89\x83\x81\x81\x5b\x83\x5e\x82\xaa\x91\xab\x82\xe8\x82\xdc\x82\xb9\x82\xf1";
// "The image data of input 1 cannot be read."
constexpr char kCannotReadFirst[] =
    "\x93\xfc\x97\xcd\x82\x50\x82\xcc\x89\xe6\x91\x9c\x83\x66\x81\x5b\x83\x5e\x82\xaa\x93\xc7"
    "\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// "The image data of input 2 cannot be read."
constexpr char kCannotReadSecond[] =
    "\x93\xfc\x97\xcd\x82\x51\x82\xcc\x89\xe6\x91\x9c\x83\x66\x81\x5b\x83\x5e\x82\xaa\x93\xc7"
    "\x82\xdf\x82\xdc\x82\xb9\x82\xf1";
// "This program handles monochrome only."
constexpr char kMonochromeOnly[] =
    "\x82\xb1\x82\xcc\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x82\xcd\x83\x82\x83\x6d\x83\x4e"
    "\x83\x8d\x82\xcc\x82\xdd\x91\xce\x89\x9e\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7";
// "The two images differ in size. Use images of the same size."
constexpr char kSizesDiffer[] =
    "\x82\x51\x82\xc2\x82\xcc\x89\xe6\x91\x9c\x82\xcc\x83\x54\x83\x43\x83\x59\x82\xaa\x8d\x87"
    "\x82\xa2\x82\xdc\x82\xb9\x82\xf1\x81\x44\x93\xaf\x82\xb6\x83\x54\x83\x43\x83\x59\x82\xcc"
    "\x89\xe6\x91\x9c\x82\xf0\x8e\x67\x82\xc1\x82\xc4\x89\xba\x82\xb3\x82\xa2";
constexpr char kSizesLine[] = "(1)H:%d, W:%d <=> (2)H:%d, W:%d\n";
// "The image size is not divisible by the sub-region size %d (H:%d, W:%d)."
constexpr char kNotDivisible[] =
    "\x89\xe6\x91\x9c\x82\xcc\x83\x54\x83\x43\x83\x59\x82\xaa\x8f\xac\x97\xcc\x88\xe6\x83\x54"
    "\x83\x43\x83\x59 %d \x82\xc5\x8a\x84\x82\xe8\x90\xd8\x82\xea\x82\xdc\x82\xb9\x82\xf1"
    "(H:%d, W:%d)\n";

// "The output image cannot be written."
constexpr char kCannotWrite[] =
    "\x8f\x6f\x97\xcd\x89\xe6\x91\x9c\x82\xaa\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82"
    "\xf1";

void writeLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
}

// Says why the pair cannot be compared; false when it can.
bool refusePair(const Comparison& comparison) {
    switch (comparison.verdict) {
        case kPairOk:
            return false;
        case kFirstUnreadable:
            std::fputs(kCannotReadFirst, stdout);
            return true;
        case kSecondUnreadable:
            std::fputs(kCannotReadSecond, stdout);
            return true;
        case kPairNotGrey:
            writeLine(kMonochromeOnly);
            return true;
        case kPairSizesDiffer:
            writeLine(kSizesDiffer);
            std::printf(kSizesLine, comparison.firstHeight, comparison.firstWidth,
                        comparison.secondHeight, comparison.secondWidth);
            return true;
        default:
            std::printf(kNotDivisible, kBlockSize, comparison.firstHeight, comparison.firstWidth);
            return true;
    }
}

}  // namespace

void printUsage(const char* usage) {
    writeLine(kNotEnoughParameters);
    writeLine(usage);
}

bool compareReadablePair(const char* firstPath, const char* secondPath, bool blockScores,
                         Comparison* comparison) {
    CompareOptions options;
    options.limits = limitsFromEnvironment();
    options.blockScores = blockScores;
    *comparison = compare(fileSource(firstPath), fileSource(secondPath), options);
    return !refusePair(*comparison);
}

bool printResult(double mean) {
    std::printf("SSIM: %f\n", mean);
    // A result that never reached its reader must not pass for a success.
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void printCannotWrite() {
    writeLine(kCannotWrite);
}

}  // namespace likeness
