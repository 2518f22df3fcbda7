#include "engine/whole.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/levels.h"
#include "engine/source_reader.h"
#include "likeness/likeness.h"
#include "likeness/read_result.h"

namespace likeness {

namespace {

// A picture as it is scored: one plane of grey levels for all three channels (its own, its grey
// twin's or its luma), or for colour its three-byte pixels, split into channels a band at a time
// as they are scored; neither for a colour picture that is to be compared as grey.
struct Planes {
    ImagePtr owned;  // the picture read from its file
    // A twin or luma made for it, left unset until it is filled: a pass of zeros over it would
    // cost as much as filling it.
    std::unique_ptr<std::uint8_t[]> made;
    const std::uint8_t* levels = nullptr;  // the grey plane
    const std::uint8_t* pixels = nullptr;  // or the three-byte pixels
    int count = 0;                         // channels: 1 for the grey plane, 3 for the pixels
    int width = 0;
    int height = 0;
};

int readPicture(const Source& source, const ReadLimits& limits, Planes* planes,
                const Image** image) {
    if (source.image != nullptr) {
        *image = source.image;
        return kReadOk;
    }
    Image* raw = nullptr;
    const int result = readSource(source, limits, &raw);
    planes->owned.reset(raw);
    *image = raw;
    return result;
}

void useOnePlane(const std::uint8_t* levels, Planes* planes) {
    planes->levels = levels;
    planes->count = 1;
}

// The planes of an 8-bit or 24-bit picture: its own levels, its grey twin's, its luma or, for
// colour, its pixels. A 24-bit picture without pixels has no twin and is left without planes.
void takePlanes(const Image& image, const CompareOptions& options, Planes* planes) {
    planes->width = image.width;
    planes->height = image.height;
    const bool empty = image.width == 0 || image.height == 0;
    if (image.depth == 8 && (image.data != nullptr || empty))
        return useOnePlane(image.data, planes);
    if (image.depth != 24 || image.data == nullptr || empty) return;
    if (options.colour) {
        planes->pixels = image.data;
        planes->count = 3;
        return;
    }
    const auto pixels =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    planes->made = std::make_unique_for_overwrite<std::uint8_t[]>(pixels);
    bool colour = false;
    if (options.luma) {
        lumaRow(image.data, Pixels::kRedGreenBlue, planes->made.get(), pixels);
    } else {
        greyRow(image.data, planes->made.get(), pixels, &colour);
    }
    if (!colour) useOnePlane(planes->made.get(), planes);
}

Comparison verdictOf(int verdict, int result) {
    Comparison comparison;
    comparison.verdict = verdict;
    comparison.readResult = result;
    return comparison;
}

// The pair's failure, in the order compare() reports them, once both are read into planes.
int pairVerdict(const Planes& first, const Planes& second, const CompareOptions& options) {
    if (first.count == 0 || second.count == 0) return kPairNotGrey;
    if (first.width != second.width || first.height != second.height) return kPairSizesDiffer;
    const int sides = checkSides(options.metric, first.width, first.height);
    if (sides != kPairOk) return sides;
    for (const Image* mask : options.ignored.masks) {
        if (mask == nullptr || mask->depth != 8 || mask->width != first.width ||
            mask->height != first.height || (mask->data == nullptr && first.width > 0))
            return kMaskSizeDiffers;
    }
    return kPairOk;
}

// Every pixel left out, 1 for those the rectangles or masks name.
std::vector<std::uint8_t> ignoredPixels(const Ignored& ignored, int width, int height) {
    const auto columns = static_cast<std::size_t>(width);
    std::vector<std::uint8_t> pixels(columns * static_cast<std::size_t>(height));
    for (const Rectangle& r : ignored.rectangles) {
        const auto x0 = std::clamp<std::int64_t>(r.x, 0, width);
        const auto x1 = std::clamp<std::int64_t>(std::int64_t{r.x} + r.width, 0, width);
        const auto y0 = std::clamp<std::int64_t>(r.y, 0, height);
        const auto y1 = std::clamp<std::int64_t>(std::int64_t{r.y} + r.height, 0, height);
        for (auto y = y0; y < y1; ++y) {
            std::fill(pixels.begin() + y * width + x0, pixels.begin() + y * width + x1, 1);
        }
    }
    for (const Image* mask : ignored.masks) {
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] |= mask->data[i] != 0 ? 1 : 0;
    }
    return pixels;
}

// Which windows hold a pixel left out: for each row of windows, the columns that hold one within
// its rows, then a count along them that answers for each window at once.
std::vector<bool> windowsLeftOut(const std::vector<std::uint8_t>& pixels, int width, int height,
                                 const Windows& windows) {
    std::vector<bool> leftOut;
    leftOut.reserve(static_cast<std::size_t>(windows.columns) *
                    static_cast<std::size_t>(windows.rows));
    std::vector<std::uint8_t> marked(static_cast<std::size_t>(width));
    std::vector<int> before(static_cast<std::size_t>(width) + 1);
    for (int row = 0; row < windows.rows; ++row) {
        const int top = row * windows.step + windows.shift;
        std::fill(marked.begin(), marked.end(), 0);
        for (int y = std::max(top, 0); y < std::min(top + windows.size, height); ++y) {
            const std::uint8_t* line = pixels.data() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) marked[x] |= line[x];
        }
        for (int x = 0; x < width; ++x) before[x + 1] = before[x] + marked[x];
        for (int column = 0; column < windows.columns; ++column) {
            const int left = column * windows.step + windows.shift;
            const int x0 = std::clamp(left, 0, width);
            const int x1 = std::clamp(left + windows.size, 0, width);
            leftOut.push_back(before[x1] > before[x0]);
        }
    }
    return leftOut;
}

// The sum of the scores of the windows not left out, added in row order, and their count.
struct Sum {
    double sum = 0.0;
    std::size_t scored = 0;
    // Adds count scores, the first of them window number first.
    void add(const double* scores, std::size_t count, const std::vector<bool>& leftOut,
             std::size_t first) {
        if (leftOut.empty()) {
            for (std::size_t i = 0; i < count; ++i) sum += scores[i];
            scored += count;
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (leftOut[first + i]) continue;
            sum += scores[i];
            ++scored;
        }
    }
    // A not-a-number when no window is scored.
    double mean() const {
        return scored == 0 ? std::numeric_limits<double>::quiet_NaN()
                           : sum / static_cast<double>(scored);
    }
};

// Bytes of one picture's band split into channels: the band stays in the cache while it is
// scored, where planes of the whole picture would be written out to memory and read back.
constexpr std::size_t kBandBytes = std::size_t{256} << 10;

// Rows scored at once: for blocks, whole rows of blocks in kBandBytes; another metric's windows
// may overlap, so it takes the whole picture as one band.
int bandRows(Metric metric, int width, int height) {
    if (metric != Metric::kBlocks || width == 0) return height;
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width) * kBlockSize;
    const auto blockRows = static_cast<int>(std::max<std::size_t>(1, kBandBytes / rowBytes));
    return std::min(height, blockRows * kBlockSize);
}

// The rows of a band as three channels: where the grey plane holds them, or split out of the
// pixels into split (three planes of the band's size). The channels that differ: 1 when every
// pixel of the band is grey, which then needs scoring once.
int bandChannels(const Planes& planes, int top, int rows, std::uint8_t* split,
                 std::array<const std::uint8_t*, 3>* channels) {
    const auto width = static_cast<std::size_t>(planes.width);
    const std::size_t offset = width * static_cast<std::size_t>(top);
    if (planes.count == 1) {
        channels->fill(planes.levels + offset);
        return 1;
    }
    const std::size_t pixels = width * static_cast<std::size_t>(rows);
    const std::array<std::uint8_t*, 3> into{split, split + pixels, split + 2 * pixels};
    bool colour = false;
    channelRows(planes.pixels + 3 * offset, into, pixels, &colour);
    std::copy(into.begin(), into.end(), channels->begin());
    return colour ? 3 : 1;
}

// Every window's score in each channel, a band at a time; a band grey in both pictures is
// scored once for all three, which gives the same scores.
std::array<std::vector<double>, 3> channelScores(const Planes& first, const Planes& second,
                                                 Metric metric, std::size_t count) {
    const int width = first.width;
    const int rows = bandRows(metric, width, first.height);
    const std::size_t bandPixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(rows);
    const bool split = first.count == 3 || second.count == 3;
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(split ? 6 * bandPixels : 0);
    std::array<std::vector<double>, 3> scores;
    for (std::vector<double>& channel : scores) channel.resize(count);
    std::size_t at = 0;
    for (int top = 0; top < first.height; top += rows) {
        const int band = std::min(rows, first.height - top);
        std::array<const std::uint8_t*, 3> a{};
        std::array<const std::uint8_t*, 3> b{};
        const int differ =
            std::max(bandChannels(first, top, band, buffer.get(), &a),
                     bandChannels(second, top, band, buffer.get() + 3 * bandPixels, &b));
        const Windows windows = windowsOf(metric, width, band);
        const std::size_t inBand =
            static_cast<std::size_t>(windows.columns) * static_cast<std::size_t>(windows.rows);
        for (int c = 0; c < 3; ++c) {
            double* out = scores[c].data() + at;
            if (c < differ) {
                localScores(metric, {a[c], width}, {b[c], width}, width, band, out);
            } else {
                std::copy_n(scores[0].data() + at, inBand, out);
            }
        }
        at += inBand;
    }
    return scores;
}

// The mean of the scores of the windows not left out, added in row order.
double meanOf(const std::vector<double>& scores, const std::vector<bool>& leftOut) {
    Sum sum;
    sum.add(scores.data(), scores.size(), leftOut, 0);
    return sum.mean();
}

// Block scores, each block by its lowest channel score.
void scoreBlocks(const Planes& first, const Planes& second, bool keep, Comparison* comparison) {
    const std::size_t count = static_cast<std::size_t>(comparison->windows.columns) *
                              static_cast<std::size_t>(comparison->windows.rows);
    std::array<std::vector<double>, 3> channels =
        channelScores(first, second, Metric::kBlocks, count);
    std::vector<double>& scores = channels[0];
    for (int c = 0; c < 3; ++c) comparison->channels[c] = meanOf(channels[c], comparison->leftOut);
    for (std::size_t i = 0; i < count; ++i)
        scores[i] = std::min(std::min(scores[i], channels[1][i]), channels[2][i]);
    comparison->mean = meanOf(scores, comparison->leftOut);
    if (keep) comparison->scores = std::move(scores);
}

// A picture's three channels as planes of the whole picture: its grey plane, or its pixels split
// into split. Overlapping windows need every row of a channel at hand.
std::array<const std::uint8_t*, 3> wholeChannels(const Planes& planes,
                                                 std::unique_ptr<std::uint8_t[]>* split) {
    std::array<const std::uint8_t*, 3> channels{};
    if (planes.count == 1) {
        channels.fill(planes.levels);
        return channels;
    }
    const std::size_t pixels =
        static_cast<std::size_t>(planes.width) * static_cast<std::size_t>(planes.height);
    *split = std::make_unique_for_overwrite<std::uint8_t[]>(3 * pixels);
    const std::array<std::uint8_t*, 3> into{split->get(), split->get() + pixels,
                                            split->get() + 2 * pixels};
    bool colour = false;
    channelRows(planes.pixels, into, pixels, &colour);
    std::copy(into.begin(), into.end(), channels.begin());
    return channels;
}

// Windows scored at once when their scores are not kept: a picture's windows may be as many as
// its pixels, and their scores eight times its bytes.
constexpr std::size_t kBandWindows = std::size_t{1} << 21;

// Another metric's window scores, each window by its lowest channel score, in bands of rows of
// windows unless the scores are kept; the sums still go in row order.
void scoreWindows(const Planes& first, const Planes& second, const CompareOptions& options,
                  Comparison* comparison) {
    const int width = first.width;
    const int height = first.height;
    const Windows& windows = comparison->windows;
    const auto columns = static_cast<std::size_t>(windows.columns);
    const int band = options.blockScores
                         ? windows.rows
                         : static_cast<int>(std::clamp<std::size_t>(
                               kBandWindows / std::max<std::size_t>(columns, 1), 1,
                               static_cast<std::size_t>(std::max(windows.rows, 1))));
    const int channels = std::max(first.count, second.count);
    std::unique_ptr<std::uint8_t[]> splitFirst;
    std::unique_ptr<std::uint8_t[]> splitSecond;
    const auto a = wholeChannels(first, &splitFirst);
    const auto b = wholeChannels(second, &splitSecond);
    std::vector<double> scores(static_cast<std::size_t>(band) * columns);
    std::vector<double> channel(channels > 1 ? scores.size() : 0);
    std::array<Sum, 3> channelSums;
    Sum lowest;
    const auto stride = static_cast<std::ptrdiff_t>(width);
    for (int row = 0; row < windows.rows; row += band) {
        const int rows = std::min(band, windows.rows - row);
        const std::size_t count = static_cast<std::size_t>(rows) * columns;
        const std::size_t at = static_cast<std::size_t>(row) * columns;
        for (int c = 0; c < channels; ++c) {
            double* out = c == 0 ? scores.data() : channel.data();
            localScoresOfRows(options.metric, {a[c], stride}, {b[c], stride}, width, height, row,
                              rows, out);
            channelSums[c].add(out, count, comparison->leftOut, at);
            if (c > 0) {
                for (std::size_t i = 0; i < count; ++i) scores[i] = std::min(scores[i], out[i]);
            }
        }
        if (channels > 1) lowest.add(scores.data(), count, comparison->leftOut, at);
    }
    for (int c = 0; c < 3; ++c) comparison->channels[c] = channelSums[channels > 1 ? c : 0].mean();
    comparison->mean = channels > 1 ? lowest.mean() : comparison->channels[0];
    if (options.blockScores) comparison->scores = std::move(scores);
}

// Scores every channel, each window by its lowest channel score.
void score(const Planes& first, const Planes& second, const CompareOptions& options,
           Comparison* comparison) {
    const int width = first.width;
    const int height = first.height;
    const Windows windows = windowsOf(options.metric, width, height);
    comparison->windows = windows;
    if (!options.ignored.empty()) {
        comparison->leftOut =
            windowsLeftOut(ignoredPixels(options.ignored, width, height), width, height, windows);
        comparison->ignored = static_cast<std::size_t>(
            std::count(comparison->leftOut.begin(), comparison->leftOut.end(), true));
    }
    if (options.metric == Metric::kBlocks) {
        scoreBlocks(first, second, options.blockScores, comparison);
    } else {
        scoreWindows(first, second, options, comparison);
    }
    if (!options.blockScores) comparison->leftOut.clear();
}

// Pairs of files smaller than this are read one after the other: a thread costs more than it
// saves on them.
constexpr std::int64_t kTogetherBytes = std::int64_t{64} << 10;

// Whether the second picture is read on a thread of its own while the first is read: for two
// regular files of some size, with a second core to read on (a pipe or stream is read only once
// the first picture is known to be readable).
bool readTogether(const Source& first, const Source& second, const CompareOptions& options) {
    struct stat a {};
    struct stat b {};
    if (first.path == nullptr || second.path == nullptr || stat(first.path, &a) != 0 ||
        stat(second.path, &b) != 0 || !S_ISREG(a.st_mode) || !S_ISREG(b.st_mode) ||
        std::int64_t{a.st_size} + b.st_size < kTogetherBytes ||
        std::thread::hardware_concurrency() < 2)
        return false;
    // The second file is opened only once the first is known readable as far as its header.
    SourceReader header;
    return openSource(first, options, &header) == kReadOk;
}

// Reads a picture into planes: kReadOk or the reader's code, kOutOfMemory for planes that memory
// cannot hold.
int readPlanes(const Source& source, const CompareOptions& options, Planes* planes) {
    try {
        const Image* image = nullptr;
        const int result = readPicture(source, options.limits, planes, &image);
        if (result == kReadOk) takePlanes(*image, options, planes);
        return result;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

Comparison compareRead(const Source& first, const Source& second, const CompareOptions& options) {
    Planes a;
    Planes b;
    int secondResult = kReadOk;
    std::jthread reader;
    if (readTogether(first, second, options)) {
        try {
            reader = std::jthread([&] { secondResult = readPlanes(second, options, &b); });
        } catch (const std::system_error&) {
            // Without a second thread the second picture is read after the first.
        }
    }
    const bool together = reader.joinable();
    int result = readPlanes(first, options, &a);
    if (result != kReadOk) return verdictOf(kFirstUnreadable, result);
    if (together) {
        reader.join();
    } else {
        secondResult = readPlanes(second, options, &b);
    }
    if (secondResult != kReadOk) return verdictOf(kSecondUnreadable, secondResult);
    Comparison comparison = verdictOf(pairVerdict(a, b, options), kReadOk);
    comparison.firstWidth = a.width;
    comparison.firstHeight = a.height;
    comparison.secondWidth = b.width;
    comparison.secondHeight = b.height;
    if (comparison.verdict == kPairOk) score(a, b, options, &comparison);
    return comparison;
}

}  // namespace

bool readsWhole(const CompareOptions& options) {
    return options.metric != Metric::kBlocks || options.colour || !options.ignored.empty();
}

Comparison compareWhole(const Source& first, const Source& second, const CompareOptions& options) {
    try {
        return compareRead(first, second, options);
    } catch (const std::bad_alloc&) {
        // Memory for scoring, once both pictures are read, is the first's trouble, as in
        // reading them a band at a time.
        return verdictOf(kFirstUnreadable, kOutOfMemory);
    }
}

}  // namespace likeness
