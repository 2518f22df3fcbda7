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
    if (settings.maps.empty() || scores.empty() || (record->pass && !settings.allMaps)) return;
    const std::string path = mapPath(settings.maps, index, record->second);
    ImagePtr map =
        windowMap(comparison.firstWidth, comparison.firstHeight, comparison.windows, scores);
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
        case kPairTooSmall:
            return Problem::kTooSmall;
        default:
            return Problem::kNone;
    }
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
    options.metric = settings.metric;
    options.blockScores = true;
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
        record.metric = settings.metric;
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
