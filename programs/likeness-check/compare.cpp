#include "likeness-check/compare.h"

#include <cstdio>
#include <new>
#include <vector>

#include "likeness-check/map_png.h"
#include "likeness/engine.h"
#include "likeness/likeness.h"
#include "likeness/read_limits.h"
#include "likeness/read_result.h"

namespace likeness::check {

namespace {

// Judges the blocks and writes the map when one is asked for.
void score(const Comparison& comparison, std::size_t index, const Settings& settings,
           Record* record) {
    const std::vector<double>& scores = comparison.scores;
    judge(comparison, settings.thresholds, record);
    if (settings.colour) record->channels = comparison.channels;
    if (settings.maps.empty() || scores.empty() || (record->pass && !settings.allMaps)) return;
    const std::string path = mapPath(settings.maps, index, record->second);
    ImagePtr map = blockMap(comparison.firstWidth, comparison.firstHeight, scores);
    if (map && writePngMap(path, *map)) {
        record->map = path;
    } else {
        record->mapFailed = true;
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
    if (record->problem == Problem::kNone) score(comparison, index, settings, record);
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
        record.problem = pair.problem;
        if (record.problem == Problem::kNone) compareInto(pair, index, first, settings, &record);
    } catch (const std::bad_alloc&) {
        record.problem = Problem::kOutOfMemory;
    }
    return record;
}

std::string mapPath(const std::string& folder, std::size_t index, const std::string& second) {
    std::string name = second.substr(second.find_last_of('/') + 1);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain) c = '_';
    }
    char number[32];
    std::snprintf(number, sizeof number, "%06zu-", index + 1);
    return folder + "/" + number + name + ".png";
}

}  // namespace likeness::check
