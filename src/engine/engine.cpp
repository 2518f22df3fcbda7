#include "likeness/engine.h"

#include <limits>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/scoring.h"
#include "engine/whole.h"
#include "likeness/likeness.h"

namespace likeness {

namespace {

Comparison unreadable(int verdict, int result) {
    Comparison comparison;
    comparison.verdict = verdict;
    comparison.readResult = result;
    return comparison;
}

bool hasBlocks(const SourceReader& first, const SourceReader& second) {
    return first.width == second.width && first.height == second.height &&
           first.width % kBlockSize == 0 && first.height % kBlockSize == 0 && first.width > 0 &&
           first.height > 0;
}

// The first failure, in the order the programs report them, of two pictures read as far as it
// takes to know.
Comparison judge(const SourceReader& first, const SourceReader& second) {
    if (first.result != kReadOk) return unreadable(kFirstUnreadable, first.result);
    if (second.result != kReadOk) return unreadable(kSecondUnreadable, second.result);
    Comparison comparison;
    const Image a{first.width, first.height, first.colour ? 24 : 8, nullptr};
    const Image b{second.width, second.height, second.colour ? 24 : 8, nullptr};
    comparison.verdict = checkShapes(a, b);
    comparison.firstWidth = first.width;
    comparison.firstHeight = first.height;
    comparison.secondWidth = second.width;
    comparison.secondHeight = second.height;
    return comparison;
}

// Scores a pair that has blocks; a pair without any, or with a picture known to be colour, is read
// through, for its verdict.
Comparison scoreOpened(SourceReader* first, SourceReader* second, bool keepScores) {
    if (!hasBlocks(*first, *second) || first->colour || second->colour) {
        readThrough(first);
        if (first->result == kReadOk) readThrough(second);
        Comparison comparison = judge(*first, *second);
        // 0 / 0 would print as "-nan" on common platforms; an empty pair is plainly "nan".
        if (comparison.verdict == kPairOk) {
            comparison.mean = std::numeric_limits<double>::quiet_NaN();
            comparison.channels.fill(comparison.mean);
        }
        return comparison;
    }
    std::vector<double> scores;
    if (keepScores) {
        scores.resize(static_cast<std::size_t>(first->height / kBlockSize) *
                      static_cast<std::size_t>(first->width / kBlockSize));
    }
    double* out = keepScores ? scores.data() : nullptr;
    const bool decoded = first->rows || second->rows;
    const double mean =
        decoded ? scoreStreamed(first, second, out) : scoreLocated(first, second, out);
    Comparison comparison = judge(*first, *second);
    if (comparison.verdict != kPairOk) return comparison;
    comparison.mean = mean;
    comparison.windows = windowsOf(Metric::kBlocks, first->width, first->height);
    comparison.channels.fill(mean);
    comparison.scores = std::move(scores);
    return comparison;
}

}  // namespace

Comparison compare(const Source& first, const Source& second, const CompareOptions& options) {
    if (readsWhole(options)) return compareWhole(first, second, options);
    // Memory that cannot be had while a picture is opened is that picture's; later, the first's.
    int reading = kFirstUnreadable;
    try {
        SourceReader a;
        SourceReader b;
        int result = openSource(first, options, &a);
        if (result != kReadOk) return unreadable(kFirstUnreadable, result);
        reading = kSecondUnreadable;
        result = openSource(second, options, &b);
        // The first picture's own failure, further on in its file, comes first.
        if (result != kReadOk) readThrough(&a);
        if (a.result != kReadOk) return unreadable(kFirstUnreadable, a.result);
        if (result != kReadOk) return unreadable(kSecondUnreadable, result);
        reading = kFirstUnreadable;
        return scoreOpened(&a, &b, options.blockScores);
    } catch (const std::bad_alloc&) {
        return unreadable(reading, kOutOfMemory);
    } catch (const std::system_error&) {
        return unreadable(reading, kOutOfMemory);
    }
}

}  // namespace likeness
