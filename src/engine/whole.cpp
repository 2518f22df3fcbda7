#include "engine/whole.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/levels.h"
#include "engine/source_reader.h"
#include "likeness/read_result.h"

namespace likeness {

namespace {

// A picture as it is scored: one plane of grey levels for all three channels, or red, green and
// blue each in a plane of its own; none for a colour picture that is to be compared as grey.
struct Planes {
    ImagePtr owned;  // the picture read from its file
    std::vector<std::vector<std::uint8_t>> made;
    std::array<const std::uint8_t*, 3> channel{};
    int count = 0;
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

void usePlane(std::vector<std::uint8_t> levels, Planes* planes) {
    planes->made.push_back(std::move(levels));
    planes->channel.fill(planes->made.back().data());
    planes->count = 1;
}

// Red, green and blue apart, unless every pixel is grey: then the grey levels serve all three.
void splitChannels(const Image& image, Planes* planes) {
    const auto pixels =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    std::vector<std::uint8_t> grey(pixels);
    bool colour = false;
    greyRow(image.data, grey.data(), pixels, &colour);
    if (!colour) return usePlane(std::move(grey), planes);
    planes->made.assign(3, std::vector<std::uint8_t>(pixels));
    for (std::size_t i = 0; i < pixels; ++i) {
        for (std::size_t c = 0; c < 3; ++c) planes->made[c][i] = image.data[3 * i + c];
    }
    for (std::size_t c = 0; c < 3; ++c) planes->channel[c] = planes->made[c].data();
    planes->count = 3;
}

// The planes of an 8-bit or 24-bit picture: its own levels, its grey twin's, its luma or its
// three channels. A 24-bit picture without pixels has no twin and is left without planes.
void takePlanes(const Image& image, const CompareOptions& options, Planes* planes) {
    planes->width = image.width;
    planes->height = image.height;
    const bool empty = image.width == 0 || image.height == 0;
    if (image.depth == 8 && (image.data != nullptr || empty)) {
        planes->channel.fill(image.data);
        planes->count = 1;
        return;
    }
    if (image.depth != 24 || image.data == nullptr || empty) return;
    const auto pixels =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    if (options.colour) return splitChannels(image, planes);
    std::vector<std::uint8_t> grey(pixels);
    bool colour = false;
    if (options.luma) {
        lumaRow(image.data, Pixels::kRedGreenBlue, grey.data(), pixels);
    } else {
        greyRow(image.data, grey.data(), pixels, &colour);
    }
    if (!colour) usePlane(std::move(grey), planes);
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

// Windows scored at once when their scores are not kept: a picture's windows may be as many as
// its pixels, and their scores eight times its bytes.
constexpr std::size_t kBandWindows = std::size_t{1} << 21;

// Scores every channel, each window by its lowest channel score, in bands of rows of windows
// unless the scores are kept; the sums still go in row order.
void score(const Planes& first, const Planes& second, const CompareOptions& options,
           Comparison* comparison) {
    const int width = first.width;
    const int height = first.height;
    const Windows windows = windowsOf(options.metric, width, height);
    comparison->windows = windows;
    const auto columns = static_cast<std::size_t>(windows.columns);
    if (!options.ignored.empty()) {
        comparison->leftOut =
            windowsLeftOut(ignoredPixels(options.ignored, width, height), width, height, windows);
        comparison->ignored = static_cast<std::size_t>(
            std::count(comparison->leftOut.begin(), comparison->leftOut.end(), true));
    }
    const int band = options.blockScores
                         ? windows.rows
                         : static_cast<int>(std::clamp<std::size_t>(
                               kBandWindows / std::max<std::size_t>(columns, 1), 1,
                               static_cast<std::size_t>(std::max(windows.rows, 1))));
    const int channels = std::max(first.count, second.count);
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
            localScoresOfRows(options.metric, {first.channel[c], stride},
                              {second.channel[c], stride}, width, height, row, rows, out);
            channelSums[c].add(out, count, comparison->leftOut, at);
            if (c > 0) {
                for (std::size_t i = 0; i < count; ++i) scores[i] = std::min(scores[i], out[i]);
            }
        }
        if (channels > 1) lowest.add(scores.data(), count, comparison->leftOut, at);
    }
    for (int c = 0; c < 3; ++c) comparison->channels[c] = channelSums[channels > 1 ? c : 0].mean();
    comparison->mean = channels > 1 ? lowest.mean() : comparison->channels[0];
    if (options.blockScores) {
        comparison->scores = std::move(scores);
    } else {
        comparison->leftOut.clear();
    }
}

// The second picture read whole on a thread of its own while the first is read, for a pair of
// regular files of which the first is readable as far as its header: the second file is still
// opened only then, and both are read again from their start.
class SecondReader {
  public:
    SecondReader(const Source& first, const Source& second, const CompareOptions& options) {
        if (!regularFile(first) || !regularFile(second)) return;
        {
            SourceReader header;
            if (openSource(first, options, &header) != kReadOk) return;
        }
        try {
            thread_ = std::thread([this, second, limits = options.limits] {
                try {
                    Image* raw = nullptr;
                    result_ = readSource(second, limits, &raw);
                    image_.reset(raw);
                } catch (const std::bad_alloc&) {
                    result_ = kOutOfMemory;
                }
            });
        } catch (const std::system_error&) {
        }
    }
    ~SecondReader() { finish(); }
    SecondReader(const SecondReader&) = delete;
    SecondReader& operator=(const SecondReader&) = delete;

    bool started() const { return thread_.joinable() || finished_; }

    // Waits for the second picture: the reader's result, and the image into planes when read.
    int take(Planes* planes, const Image** image) {
        finish();
        planes->owned = std::move(image_);
        *image = planes->owned.get();
        return result_;
    }

  private:
    static bool regularFile(const Source& source) {
        struct stat status {};
        return source.path != nullptr && stat(source.path, &status) == 0 && S_ISREG(status.st_mode);
    }
    void finish() {
        if (!thread_.joinable()) return;
        thread_.join();
        finished_ = true;
    }

    std::thread thread_;
    bool finished_ = false;
    int result_ = kReadOk;
    ImagePtr image_;
};

Comparison compareRead(const Source& first, const Source& second, const CompareOptions& options,
                       int* reading) {
    Planes a;
    Planes b;
    const Image* image = nullptr;
    SecondReader secondReader(first, second, options);
    int result = readPicture(first, options.limits, &a, &image);
    if (result != kReadOk) return verdictOf(kFirstUnreadable, result);
    takePlanes(*image, options, &a);
    *reading = kSecondUnreadable;
    result = secondReader.started() ? secondReader.take(&b, &image)
                                    : readPicture(second, options.limits, &b, &image);
    if (result != kReadOk) return verdictOf(kSecondUnreadable, result);
    takePlanes(*image, options, &b);
    *reading = kFirstUnreadable;
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
    int reading = kFirstUnreadable;
    try {
        return compareRead(first, second, options, &reading);
    } catch (const std::bad_alloc&) {
        return verdictOf(reading, kOutOfMemory);
    }
}

}  // namespace likeness
