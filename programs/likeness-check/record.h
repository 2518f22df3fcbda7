// What likeness-check knows about one pair: where it came from, and either the comparison's
// result with its verdict or why the pair could not be compared.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "likeness/engine.h"

namespace likeness::check {

// Why a pair was not compared; kNone when it was.
enum class Problem {
    kNone,
    kCannotReadFirst,
    kCannotReadSecond,
    kNotGrey,
    kSizesDiffer,
    kNotDivisible,
    kMissingFirst,
    kMissingSecond,
    kMalformedLine,
    kOutOfMemory,  // memory, or a thread, could not be had for the pair
    kCannotReadMask,
    kMaskSize,  // a mask is not of the pair's size
    kTooSmall,  // a side is shorter than the metric's window
};

// The words a record uses for a problem ("cannot read first", ...); empty for kNone.
const char* problemWords(Problem problem);

// Two paths to compare, or a pair already known to be incomparable.
struct Pair {
    std::string first;
    std::string second;
    Problem problem = Problem::kNone;
    std::string mask{};  // a mask for this pair alone; none when empty
};

// When a pair passes: each bound, when given, must be met.
struct Thresholds {
    std::optional<double> minMean;   // the mean at least this
    std::optional<double> minBlock;  // every block at least this
};

struct Record {
    std::string first;
    std::string second;
    Problem problem = Problem::kNone;
    Metric metric = Metric::kBlocks;  // the SSIM asked for
    int code = 0;                     // the reader's result code when a file could not be read
    double mean = std::nan("");
    std::optional<std::array<double, 3>> channels;  // with colour: each channel's mean, r g b
    std::size_t blocks = 0;                         // the blocks scored
    std::size_t ignored = 0;                        // the blocks left out for the pixels they hold
    double worst = std::nan("");  // the lowest block score, and its block's top-left pixel
    int worstX = 0;
    int worstY = 0;
    std::size_t below = 0;  // blocks under Thresholds::minBlock
    bool pass = false;
    int width = 0;  // the pair's sides, once compared
    int height = 0;
    int windowSize = 0;  // the side of the metric's windows
    std::string map;     // the path of the map written for this pair, if any
    std::string diff;    // the path of its difference picture, if any
    // The name in the HTML report's folder that the pair's pictures there begin with
    // (NAME-first.png, NAME-second.png, NAME-diff.png); empty when it has none.
    std::string shown;
    std::vector<std::string> unwritten;  // files due for this pair that could not be written
};

// Whether a file of the pair, or a mask, could not be read, so that the record carries the reader's
// code.
bool unreadable(const Record& record);

// The problem's words, with the reader's code where a file could not be read.
std::string problemText(const Record& record);

// Fills in the mean, the worst block (the first in row order among equals), the blocks below the
// bound and the verdict of a compared pair from its comparison, whose block scores were kept;
// the blocks left out count for none of them.
void judge(const Comparison& comparison, const Thresholds& thresholds, Record* record);

}  // namespace likeness::check
