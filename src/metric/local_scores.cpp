#include <array>
#include <cstddef>
#include <iterator>

#include "likeness/metrics.h"
#include "metric/local_windows.h"

namespace likeness {

namespace {

constexpr std::array<const char*, 5> kMetricNames = {"blocks", "wang", "wang-scaled", "ffmpeg",
                                                     "skimage"};

// The sides of the picture that a metric's windows lie on: the kept pixels for wang-scaled.
struct Sides {
    int width;
    int height;
};

Sides windowedSides(Metric metric, int width, int height) {
    if (metric != Metric::kWangScaled) return {width, height};
    const int scale = scaleOf(width, height);
    return {scaledSide(width, scale), scaledSide(height, scale)};
}

// The side of a metric's square window, on the picture its windows lie on.
int windowSide(Metric metric) {
    switch (metric) {
        case Metric::kFFmpeg:
            return 8;
        case Metric::kSkimage:
            return 7;
        case Metric::kBlocks:
            return kBlockSize;
        default:
            return 11;
    }
}

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
        default: {
            const Sides sides = windowedSides(metric, width, height);
            const int side = windowSide(metric);
            return sides.width >= side && sides.height >= side ? kPairOk : kPairTooSmall;
        }
    }
}

Windows windowsOf(Metric metric, int width, int height) {
    switch (metric) {
        case Metric::kBlocks:
            return {width / kBlockSize, height / kBlockSize, kBlockSize, kBlockSize, 0};
        case Metric::kFFmpeg:
            return {width / 4 - 1, height / 4 - 1, 4, 8, 0};
        case Metric::kWangScaled: {
            // Window positions on the kept pixels, times f; the box of each kept pixel starts
            // before it.
            const int scale = scaleOf(width, height);
            const Sides sides = windowedSides(metric, width, height);
            return {sides.width - 10, sides.height - 10, scale, 11 * scale, -((scale - 1) / 2)};
        }
        default: {
            const int side = windowSide(metric);
            return {width - side + 1, height - side + 1, 1, side, 0};
        }
    }
}

void localScores(Metric metric, GreyRows first, GreyRows second, int width, int height,
                 double* scores) {
    localScoresOfRows(metric, first, second, width, height, 0,
                      windowsOf(metric, width, height).rows, scores);
}

void localScoresOfRows(Metric metric, GreyRows first, GreyRows second, int width, int height,
                       int firstRow, int rows, double* scores) {
    if (rows <= 0) return;
    // Kept pixels come from boxes over the whole picture's sides: that kernel takes the rows.
    if (metric == Metric::kWangScaled) {
        return wangScaledScores(first, second, width, height, firstRow, rows, scores);
    }
    // Any other window depends on its own pixels only: the rows of windows are those of the
    // band of the picture that holds them.
    const Windows windows = windowsOf(metric, width, height);
    const std::ptrdiff_t top = static_cast<std::ptrdiff_t>(firstRow) * windows.step;
    first.data += top * first.stride;
    second.data += top * second.stride;
    height = (rows - 1) * windows.step + windows.size;
    switch (metric) {
        case Metric::kBlocks:
            meanSSIMofRows(first, second, static_cast<std::size_t>(width),
                           static_cast<std::size_t>(height), scores);
            break;
        case Metric::kWang:
            wangScores(first, second, width, height, scores);
            break;
        case Metric::kFFmpeg:
            ffmpegScores(first, second, width, height, scores);
            break;
        case Metric::kSkimage:
            skimageScores(first, second, width, height, scores);
            break;
        case Metric::kWangScaled:  // scored above
            break;
    }
}

}  // namespace likeness
