#include "likeness-check/record.h"

#include <optional>

#include "likeness/likeness.h"

namespace likeness::check {

const char* problemWords(Problem problem) {
    switch (problem) {
        case Problem::kCannotReadFirst:
            return "cannot read first";
        case Problem::kCannotReadSecond:
            return "cannot read second";
        case Problem::kNotGrey:
            return "not grey";
        case Problem::kSizesDiffer:
            return "sizes differ";
        case Problem::kNotDivisible:
            return "not divisible";
        case Problem::kMissingFirst:
            return "missing first";
        case Problem::kMissingSecond:
            return "missing second";
        case Problem::kMalformedLine:
            return "malformed line";
        case Problem::kOutOfMemory:
            return "out of memory";
        case Problem::kCannotReadMask:
            return "cannot read mask";
        case Problem::kMaskSize:
            return "mask size";
        case Problem::kTooSmall:
            return "too small";
        case Problem::kNone:
            break;
    }
    return "";
}

bool unreadable(const Record& record) {
    return record.problem == Problem::kCannotReadFirst ||
           record.problem == Problem::kCannotReadSecond ||
           record.problem == Problem::kCannotReadMask;
}

std::string problemText(const Record& record) {
    std::string text = problemWords(record.problem);
    if (unreadable(record)) text += " (code " + std::to_string(record.code) + ")";
    return text;
}

void judge(const Comparison& comparison, const Thresholds& thresholds, Record* record) {
    const std::vector<double>& scores = comparison.scores;
    const auto scored = [&](std::size_t i) {
        return comparison.leftOut.empty() || !comparison.leftOut[i];
    };
    record->mean = comparison.mean;
    record->ignored = comparison.ignored;
    record->windowSize = comparison.windows.size;
    record->blocks = scores.size() - comparison.ignored;
    std::optional<std::size_t> worst;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (!scored(i)) continue;
        if (!worst || scores[i] < scores[*worst]) worst = i;
        if (thresholds.minBlock && scores[i] < *thresholds.minBlock) ++record->below;
    }
    if (worst) {
        const Windows& windows = comparison.windows;
        const auto columns = static_cast<std::size_t>(windows.columns);
        record->worst = scores[*worst];
        record->worstX = static_cast<int>(*worst % columns) * windows.step;
        record->worstY = static_cast<int>(*worst / columns) * windows.step;
    }
    // A mean that is not a number (no blocks) meets no bound.
    const bool meanMet = !thresholds.minMean || record->mean >= *thresholds.minMean;
    record->pass = meanMet && record->below == 0;
}

}  // namespace likeness::check
