// The similarity measures a comparison can score with, and where their local windows lie.
#pragma once

#include <string>
#include <vector>

#include "likeness.h"

namespace likeness {

enum class Metric {
    kBlocks,      // the mean over non-overlapping 8 x 8 blocks (calculate_ssim)
    kWang,        // 11 x 11 Gaussian windows at every position inside the picture
    kWangScaled,  // the same, on the picture first averaged and kept at every f-th pixel
    kFFmpeg,      // 8 x 8 windows at every fourth row and column, from sums over 4 x 4 blocks
    kSkimage,     // 7 x 7 uniform windows with the sample covariance
};

// The name a metric is asked for by: "blocks", "wang", "wang-scaled", "ffmpeg" or "skimage".
const char* metricName(Metric metric);
// The metric of that name; false for a name that none has.
bool metricNamed(const std::string& name, Metric* metric);

// Where a metric's local windows lie in a picture: rows of columns windows, the one of column c
// and row r with its top-left pixel at (c * step, r * step). The pixels that can change its value
// lie in the size x size square whose top-left pixel is (c * step + shift, r * step + shift).
struct Windows {
    int columns = 0;
    int rows = 0;
    int step = 0;
    int size = 0;
    int shift = 0;
};

// Whether a width x height pair can be scored with the metric: kPairOk, kPairNotDivisible for
// blocks when a side is not a multiple of kBlockSize, kPairTooSmall for the other metrics when
// the picture is smaller than one window.
int checkSides(Metric metric, int width, int height);

// The metric's windows on a width x height picture that checkSides accepts.
Windows windowsOf(Metric metric, int width, int height);

// Every window's score for two width x height grey pictures that checkSides accepts, in row
// order, into scores (columns * rows of windowsOf). The same bits on every processor.
void localScores(Metric metric, GreyRows first, GreyRows second, int width, int height,
                 double* scores);

// The scores of the rows of windows from firstRow on, rows of them, into scores (columns * rows),
// with the bits localScores gives them: for a caller that takes the mean of a picture whose
// windows' scores would not fit in memory at once.
void localScoresOfRows(Metric metric, GreyRows first, GreyRows second, int width, int height,
                       int firstRow, int rows, double* scores);

// An 8-bit width x height picture of the windows' scores, each drawn as blockMap draws a block,
// over the step x step pixels from its top-left one; the pixels past the last window's take the
// nearest window's. nullptr when memory is exhausted.
ImagePtr windowMap(int width, int height, const Windows& windows,
                   const std::vector<double>& scores);

}  // namespace likeness
