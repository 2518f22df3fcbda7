// Comparing one pair as likeness does, through the library's engine: the same readers, the same
// checks in the same order, the same mean; then the verdict and, when asked for, the map.
#pragma once

#include <cstddef>
#include <string>

#include "likeness-check/record.h"
#include "likeness/image.h"
#include "likeness/metrics.h"

namespace likeness::check {

// An image file read whole once, for a first file compared with many, or the reader's result code
// when it could not be.
struct Loaded {
    ImagePtr image;
    int code = 0;
};

// Reads the file at path whole, as the engine reads a file.
Loaded loadImage(const std::string& path);

struct Settings {
    Thresholds thresholds;
    bool luma = false;
    Metric metric = Metric::kBlocks;
    std::string maps;      // the folder for maps; none when empty
    bool allMaps = false;  // a map for every compared pair, not only those that fail
};

// Compares the pair, number index in the input (which names its map). A first image read once
// for every pair is given as first; otherwise (nullptr) the pair's first file is read. Memory that
// cannot be had makes the pair's record an out-of-memory error, never an end of the run.
Record comparePair(const Pair& pair, std::size_t index, const Loaded* first,
                   const Settings& settings);

// Where the map of the pair number index goes: a name in the folder made of the index and the
// second file's name, so that no two pairs share one and no path leaves the folder.
std::string mapPath(const std::string& folder, std::size_t index, const std::string& second);

}  // namespace likeness::check
