// Comparing one pair as likeness does: the same readers, the same checks in the same order, the
// same mean; then the verdict and, when asked for, the map.
#pragma once

#include <cstddef>
#include <string>

#include "likeness-check/record.h"
#include "likeness/image.h"

namespace likeness::check {

// An image file as read for a comparison, or the reader's result code when it could not be.
struct Loaded {
    ImagePtr image;
    int code = 0;
};

// Reads the file at path. Only regular files and pipes are read: a folder, a device or a socket
// gives kCannotOpen, and a pipe with no writer reads as empty at once rather than waiting for one.
// A 24-bit image becomes an 8-bit one as comparableImage makes it.
Loaded loadImage(const std::string& path, bool luma);

struct Settings {
    Thresholds thresholds;
    bool luma = false;
    std::string maps;      // the folder for maps; none when empty
    bool allMaps = false;  // a map for every compared pair, not only those that fail
};

// Compares the pair, number index in the input (which names its map). A first image read once
// for every pair is given as first; otherwise (nullptr) the pair's first file is read.
Record comparePair(const Pair& pair, std::size_t index, const Loaded* first,
                   const Settings& settings);

// Where the map of the pair number index goes: a name in the folder made of the index and the
// second file's name, so that no two pairs share one and no path leaves the folder.
std::string mapPath(const std::string& folder, std::size_t index, const std::string& second);

}  // namespace likeness::check
