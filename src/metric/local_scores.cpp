#include <array>
#include <cstddef>
#include <iterator>

#include "likeness/metrics.h"

namespace likeness {

namespace {

constexpr std::array<const char*, 5> kMetricNames = {"blocks", "wang", "wang-scaled", "ffmpeg",
                                                     "skimage"};

}  // namespace

const char* metricName(Metric metric) {
    return kMetricNames[static_cast<std::size_t>(metric)];
}

bool metricNamed(const std::string& name, Metric* metric) {
    for (std::size_t i = 0; i < kMetricNames.size(); ++i) {
        if (name == kMetricNames[i]) {
            *metric = static_cast<Metric>(i);
            return true;
        }
    }
    return false;
}

int checkSides(Metric metric, int width, int height) {
    switch (metric) {
        case Metric::kBlocks:
            return width % kBlockSize == 0 && height % kBlockSize == 0 ? kPairOk
                                                                       : kPairNotDivisible;
        default:
            return kPairTooSmall;
    }
}

Windows windowsOf(Metric metric, int width, int height) {
    switch (metric) {
        case Metric::kBlocks:
            return {width / kBlockSize, height / kBlockSize, kBlockSize, kBlockSize, 0};
        default:
            return {};
    }
}

void localScores(Metric metric, GreyRows first, GreyRows second, int width, int height,
                 double* scores) {
    if (metric == Metric::kBlocks) {
        meanSSIMofRows(first, second, static_cast<std::size_t>(width),
                       static_cast<std::size_t>(height), scores);
    }
}

}  // namespace likeness
