// Comparing one pair as likeness does, through the library's engine: the same readers, the same
// checks in the same order, the same mean; then the verdict and, when asked for, the map.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "likeness-check/masks.h"
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
    bool colour = false;  // scored channel by channel
    // Left out of every pair: the rectangles, and the mask of --mask when one is given.
    std::vector<Rectangle> ignore;
    std::shared_ptr<const Mask> mask;
    Metric metric = Metric::kBlocks;
    std::string maps;      // the folder for maps; none when empty
    std::string diffs;     // the folder for difference pictures; none when empty
    bool allMaps = false;  // a map and a difference picture for every compared pair, not only
                           // for those that fail
    std::string html;      // the HTML report's folder, for the pictures of pairs that fail
};

// Compares the pair, number index in the input (which names its map). A first image read once
// for every pair is given as first; otherwise (nullptr) the pair's first file is read. Memory that
// cannot be had makes the pair's record an out-of-memory error, never an end of the run.
Record comparePair(const Pair& pair, std::size_t index, const Loaded* first,
                   const Settings& settings);

// The name of the pair number index's files: made of the index and the second file's name, so
// that no two pairs share one, and of plain characters alone, so that no path leaves its folder
// and a link needs no escaping.
std::string pairName(std::size_t index, const std::string& second);

// Where the map of the pair number index goes in folder.
std::string mapPath(const std::string& folder, std::size_t index, const std::string& second);

}  // namespace likeness::check
