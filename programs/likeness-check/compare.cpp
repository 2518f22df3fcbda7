#include "likeness-check/compare.h"

#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "likeness-check/difference.h"
#include "likeness-check/png_file.h"
#include "likeness/engine.h"
#include "likeness/likeness.h"
#include "likeness/read_limits.h"
#include "likeness/read_result.h"

namespace likeness::check {

namespace {

// The window scores as the pictures show them: not a number where a window was left out.
std::vector<double> scoresShown(const Comparison& comparison) {
    std::vector<double> scores = comparison.scores;
    for (std::size_t i = 0; i < comparison.leftOut.size(); ++i) {
        if (comparison.leftOut[i]) scores[i] = std::numeric_limits<double>::quiet_NaN();
    }
    return scores;
}

// Writes the PNG bytes at path; false, with the path noted in the record, when it could not.
bool put(const std::string& path, const std::vector<unsigned char>& png, Record* record) {
    if (!png.empty() && writeBytes(path, png)) return true;
    record->unwritten.push_back(path);
    return false;
}

std::vector<unsigned char> pngOf(const Image* image) {
    return image != nullptr ? encodePng(*image) : std::vector<unsigned char>{};
}

// The difference picture, drawn on the second picture read again whole, and the pictures that
// the HTML report shows: the first, the second and the difference.
void writeViews(const Pair& pair, const Comparison& comparison, std::size_t index,
                const Loaded* first, const Settings& settings, bool htmlDue, Record* record) {
    const Loaded second = loadImage(pair.second);
    std::vector<unsigned char> diff;
    if (second.image) {
        const Windows& windows = comparison.windows;
        const ImagePtr drawing = drawDifference(*second.image, windows, scoresShown(comparison),
                                                settings.thresholds.minBlock,
                                                windowAt(windows, record->worstX, record->worstY));
        diff = pngOf(drawing.get());
    }
    const std::string name = pairName(index, record->second);
    // Named apart from the map, so that one folder may hold both; the report's copy has the
    // same name and the same bytes.
    const std::string diffPath = settings.diffs + "/" + name + "-diff.png";
    if (!settings.diffs.empty() && put(diffPath, diff, record)) record->diff = diffPath;
    if (!htmlDue) return;
    Loaded ownFirst;
    if (first == nullptr) ownFirst = loadImage(pair.first);
    const Image* firstImage = first != nullptr ? first->image.get() : ownFirst.image.get();
    const std::string shown = settings.html + "/" + name;
    bool whole = put(shown + "-first.png", pngOf(firstImage), record);
    whole = put(shown + "-second.png", pngOf(second.image.get()), record) && whole;
    whole = put(shown + "-diff.png", diff, record) && whole;
    if (whole) record->shown = name;
}

// Judges the blocks and writes the pictures that are due: the map and the difference picture of
// a pair that fails (of every pair with allMaps), its pictures in the HTML report when it fails.
void score(const Pair& pair, const Comparison& comparison, std::size_t index, const Loaded* first,
           const Settings& settings, Record* record) {
    record->width = comparison.firstWidth;
    record->height = comparison.firstHeight;
    judge(comparison, settings.thresholds, record);
    if (settings.colour) record->channels = comparison.channels;
    const std::vector<double> scores = scoresShown(comparison);
    if (scores.empty()) return;
    const bool drawn = !record->pass || settings.allMaps;
    if (!settings.maps.empty() && drawn) {
        const std::string path = mapPath(settings.maps, index, record->second);
        ImagePtr map =
            windowMap(comparison.firstWidth, comparison.firstHeight, comparison.windows, scores);
        if (map && writePng(path, *map))
            record->map = path;
        else
            record->unwritten.push_back(path);
    }
    const bool htmlDue = !settings.html.empty() && !record->pass;
    if (!(htmlDue || (!settings.diffs.empty() && drawn))) return;
    try {
        writeViews(pair, comparison, index, first, settings, htmlDue, record);
    } catch (const std::bad_alloc&) {
        // The pair was compared; only its pictures could not be had.
        record->unwritten.push_back("the pictures of " + record->second);
    }
}

Problem problemOf(const Comparison& comparison) {
    if (comparison.readResult == kOutOfMemory) return Problem::kOutOfMemory;
    switch (comparison.verdict) {
        case kFirstUnreadable:
            return Problem::kCannotReadFirst;
        case kSecondUnreadable:
            return Problem::kCannotReadSecond;
        case kPairNotGrey:
            return Problem::kNotGrey;
        case kPairSizesDiffer:
            return Problem::kSizesDiffer;
        case kPairNotDivisible:
            return Problem::kNotDivisible;
        case kMaskSizeDiffers:
            return Problem::kMaskSize;
        case kPairTooSmall:
            return Problem::kTooSmall;
        default:
            return Problem::kNone;
    }
}

// Adds the mask to those left out; false, with the record's problem, when it could not be read.
bool addMask(const Mask& mask, Ignored* ignored, Record* record) {
    if (mask.code < 0) {
        record->problem =
            mask.code == kOutOfMemory ? Problem::kOutOfMemory : Problem::kCannotReadMask;
        record->code = mask.code;
        return false;
    }
    ignored->masks.push_back(mask.leftOut.get());
    return true;
}

void compareInto(const Pair& pair, std::size_t index, const Loaded* first, const Settings& settings,
                 Record* record) {
    if (first != nullptr && first->code < 0) {
        record->problem =
            first->code == kOutOfMemory ? Problem::kOutOfMemory : Problem::kCannotReadFirst;
        record->code = first->code;
        return;
    }
    CompareOptions options;
    options.limits = limitsFromEnvironment();
    options.luma = settings.luma;
    options.colour = settings.colour;
    options.metric = settings.metric;
    options.blockScores = true;
    options.ignored.rectangles = settings.ignore;
    if (settings.mask && !addMask(*settings.mask, &options.ignored, record)) return;
    Mask own;
    if (!pair.mask.empty()) {
        own = loadMask(pair.mask);
        if (!addMask(own, &options.ignored, record)) return;
    }
    const Source firstSource =
        first != nullptr ? imageSource(first->image.get()) : fileSource(pair.first.c_str());
    const Comparison comparison = compare(firstSource, fileSource(pair.second.c_str()), options);
    record->problem = problemOf(comparison);
    record->code = comparison.readResult;
    if (record->problem == Problem::kNone) score(pair, comparison, index, first, settings, record);
}

}  // namespace

Loaded loadImage(const std::string& path) {
    Image* image = nullptr;
    const int code = readSource(fileSource(path.c_str()), limitsFromEnvironment(), &image);
    return {ImagePtr(image), code};
}

Record comparePair(const Pair& pair, std::size_t index, const Loaded* first,
                   const Settings& settings) {
    Record record;
    try {
        record.first = pair.first;
        record.second = pair.second;
        record.metric = settings.metric;
        record.problem = pair.problem;
        if (record.problem == Problem::kNone) compareInto(pair, index, first, settings, &record);
    } catch (const std::bad_alloc&) {
        record.problem = Problem::kOutOfMemory;
    }
    return record;
}

std::string pairName(std::size_t index, const std::string& second) {
    std::string name = second.substr(second.find_last_of('/') + 1);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain) c = '_';
    }
    char number[32];
    std::snprintf(number, sizeof number, "%06zu-", index + 1);
    return number + name;
}

std::string mapPath(const std::string& folder, std::size_t index, const std::string& second) {
    return folder + "/" + pairName(index, second) + ".png";
}

}  // namespace likeness::check
