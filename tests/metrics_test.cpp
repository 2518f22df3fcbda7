// The metrics whose windows overlap: where their windows lie, each window against its definition
// computed plainly, window by window, and the bits every processor must give.
#include "likeness/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numeric>
#include <vector>

#include "likeness/engine.h"
#include "likeness/image_file.h"
#include "likeness/read_result.h"
#include "test_files.h"

namespace likeness {
namespace {

constexpr double kC1 = 6.5025;
constexpr double kC2 = 58.5225;

// Two pictures of a smooth slope with ripples, the second the first with a pattern of noise, so
// that windows score all over the range.
struct Pair {
    int width;
    int height;
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> second;
    Pair(int w, int h) : width(w), height(h), first(w * h), second(w * h) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int level = (x * 7 + y * 3 + (x * y) % 37 + (x / 9 + y / 5) % 2 * 60) % 256;
                first[y * w + x] = static_cast<std::uint8_t>(level);
                const int noise = ((x * 5 + y * 11) % 17 - 8) * ((x + y) % 3) * 5;
                second[y * w + x] = static_cast<std::uint8_t>(std::clamp(level + noise, 0, 255));
            }
        }
    }
    std::vector<double> scores(Metric metric) const {
        const Windows windows = windowsOf(metric, width, height);
        std::vector<double> out(static_cast<std::size_t>(windows.columns) * windows.rows);
        localScores(metric, {first.data(), width}, {second.data(), width}, width, height,
                    out.data());
        return out;
    }
};

// A picture's level at (x, y) as a double.
using Levels = std::function<double(int x, int y)>;

Levels levelsOf(const std::vector<std::uint8_t>& picture, int width) {
    return [&picture, width](int x, int y) { return static_cast<double>(picture[y * width + x]); };
}

// The index of a window from its weighted means, variances and covariance.
double index(double ma, double mb, double va, double vb, double cab) {
    return (2 * ma * mb + kC1) * (2 * cab + kC2) / ((ma * ma + mb * mb + kC1) * (va + vb + kC2));
}

// The window of side n whose top-left pixel is (x0, y0), weighted by weight(i, j), the
// covariances in two passes and scaled by scale.
double windowIndex(const Levels& a, const Levels& b, int x0, int y0, int n,
                   const std::function<double(int, int)>& weight, double scale) {
    double ma = 0, mb = 0;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            ma += weight(i, j) * a(x0 + i, y0 + j);
            mb += weight(i, j) * b(x0 + i, y0 + j);
        }
    }
    double va = 0, vb = 0, cab = 0;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const double da = a(x0 + i, y0 + j) - ma;
            const double db = b(x0 + i, y0 + j) - mb;
            va += weight(i, j) * da * da;
            vb += weight(i, j) * db * db;
            cab += weight(i, j) * da * db;
        }
    }
    return index(ma, mb, va * scale, vb * scale, cab * scale);
}

double gaussian(int i, int j) {
    static const std::vector<double> weights = [] {
        std::vector<double> w;
        for (int k = -5; k <= 5; ++k) w.push_back(std::exp(-k * k / 4.5));
        const double sum = std::accumulate(w.begin(), w.end(), 0.0);
        for (double& weight : w) weight /= sum;
        return w;
    }();
    return weights[i] * weights[j];
}

// Every window of the metric on a picture of levels, from its definition.
std::vector<double> plainScores(Metric metric, const Levels& a, const Levels& b,
                                const Windows& windows) {
    std::vector<double> scores;
    for (int r = 0; r < windows.rows; ++r) {
        for (int c = 0; c < windows.columns; ++c) {
            if (metric == Metric::kSkimage) {
                const auto uniform = [](int, int) { return 1.0 / 49; };
                scores.push_back(windowIndex(a, b, c, r, 7, uniform, 49.0 / 48));
            } else {
                scores.push_back(windowIndex(a, b, c, r, 11, gaussian, 1.0));
            }
        }
    }
    return scores;
}

void expectNear(const std::vector<double>& got, const std::vector<double>& plain) {
    ASSERT_EQ(got.size(), plain.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], plain[i], 1e-12) << i;
}

TEST(Metrics, WindowsLieWhereEachMetricPutsThem) {
    struct Case {
        Metric metric;
        int width, height;
        int verdict;
        Windows windows;
    };
    const Case cases[] = {
        {Metric::kBlocks, 24, 16, kPairOk, {3, 2, 8, 8, 0}},
        {Metric::kBlocks, 12, 16, kPairNotDivisible, {}},
        {Metric::kWang, 11, 12, kPairOk, {1, 2, 1, 11, 0}},
        {Metric::kWang, 10, 300, kPairTooSmall, {}},
        {Metric::kSkimage, 7, 9, kPairOk, {1, 3, 1, 7, 0}},
        {Metric::kSkimage, 9, 6, kPairTooSmall, {}},
        {Metric::kFFmpeg, 8, 19, kPairOk, {1, 3, 4, 8, 0}},
        {Metric::kFFmpeg, 7, 8, kPairTooSmall, {}},
        // f = round(383 / 256) = 1; round(384 / 256) = 2 (halves away from zero), kept 192
        // of 384 and 200 of 399; round(640 / 256) = 3, whose box starts a pixel before.
        {Metric::kWangScaled, 500, 383, kPairOk, {490, 373, 1, 11, 0}},
        {Metric::kWangScaled, 399, 384, kPairOk, {190, 182, 2, 22, 0}},
        {Metric::kWangScaled, 641, 640, kPairOk, {204, 204, 3, 33, -1}},
        {Metric::kWangScaled, 1000, 1664, kPairOk, {240, 406, 4, 44, -1}},
        {Metric::kWangScaled, 10, 11, kPairTooSmall, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkSides(c.metric, c.width, c.height), c.verdict) << metricName(c.metric);
        if (c.verdict != kPairOk) continue;
        const Windows w = windowsOf(c.metric, c.width, c.height);
        const Windows& e = c.windows;
        EXPECT_TRUE(w.columns == e.columns && w.rows == e.rows && w.step == e.step &&
                    w.size == e.size && w.shift == e.shift)
            << metricName(c.metric) << " " << c.width << " x " << c.height << ": " << w.columns
            << " " << w.rows << " " << w.step << " " << w.size << " " << w.shift;
    }
    for (const char* name : {"blocks", "wang", "wang-scaled", "ffmpeg", "skimage"}) {
        Metric metric = Metric::kBlocks;
        EXPECT_TRUE(metricNamed(name, &metric) && std::string(metricName(metric)) == name);
    }
    Metric metric = Metric::kWang;
    EXPECT_FALSE(metricNamed("ssim", &metric) || metricNamed("", &metric));
}

// The Gaussian and uniform windows at every position, and ffmpeg's from its 8 x 8 sums: each
// window as its definition computes it with two passes over its pixels.
TEST(Metrics, EveryWindowScoresAsItsDefinition) {
    const Pair pair(37, 29);
    const Levels a = levelsOf(pair.first, pair.width);
    const Levels b = levelsOf(pair.second, pair.width);
    for (Metric metric : {Metric::kWang, Metric::kSkimage}) {
        expectNear(pair.scores(metric),
                   plainScores(metric, a, b, windowsOf(metric, pair.width, pair.height)));
    }
    // ffmpeg's windows from x264's integer sums over all 64 pixels: the pixels past the last
    // whole 4 x 4 block are in none.
    std::vector<double> plain;
    for (int y0 = 0; y0 + 8 <= pair.height / 4 * 4; y0 += 4) {
        for (int x0 = 0; x0 + 8 <= pair.width / 4 * 4; x0 += 4) {
            double s1 = 0, s2 = 0, ss = 0, s12 = 0;
            for (int y = y0; y < y0 + 8; ++y) {
                for (int x = x0; x < x0 + 8; ++x) {
                    s1 += a(x, y), s2 += b(x, y), s12 += a(x, y) * b(x, y);
                    ss += a(x, y) * a(x, y) + b(x, y) * b(x, y);
                }
            }
            plain.push_back((2 * s1 * s2 + 416) * (2 * (64 * s12 - s1 * s2) + 235963) /
                            ((s1 * s1 + s2 * s2 + 416) * (64 * ss - s1 * s1 - s2 * s2 + 235963)));
        }
    }
    expectNear(pair.scores(Metric::kFFmpeg), plain);
}

// ssim.m's scaling: each kept pixel the mean of its f x f box, mirrored at the borders, the box
// starting (f - 1) / 2 pixels before it; then the Gaussian windows on the kept pixels.
TEST(Metrics, ScaledWindowsScoreTheKeptBoxesMeans) {
    for (const auto& [width, height, scale] : {std::array{399, 385, 2}, std::array{641, 650, 3}}) {
        const Pair pair(width, height);
        const auto mirror = [](int at, int side) {
            return at < 0 ? -1 - at : at >= side ? 2 * side - 1 - at : at;
        };
        const int keptWidth = (width + scale - 1) / scale;
        const int keptHeight = (height + scale - 1) / scale;
        const auto kept = [&](const std::vector<std::uint8_t>& picture) {
            std::vector<double> levels;
            for (int y = 0; y < keptHeight; ++y) {
                for (int x = 0; x < keptWidth; ++x) {
                    double sum = 0;
                    for (int j = 0; j < scale; ++j) {
                        for (int i = 0; i < scale; ++i) {
                            const int px = mirror(x * scale - (scale - 1) / 2 + i, width);
                            const int py = mirror(y * scale - (scale - 1) / 2 + j, height);
                            sum += picture[py * width + px];
                        }
                    }
                    levels.push_back(sum / (scale * scale));
                }
            }
            return levels;
        };
        const std::vector<double> a = kept(pair.first);
        const std::vector<double> b = kept(pair.second);
        const auto levels = [keptWidth](const std::vector<double>& picture) -> Levels {
            return [&picture, keptWidth](int x, int y) { return picture[y * keptWidth + x]; };
        };
        Windows windows = windowsOf(Metric::kWangScaled, width, height);
        ASSERT_EQ(windows.step, scale);
        expectNear(pair.scores(Metric::kWangScaled),
                   plainScores(Metric::kWang, levels(a), levels(b), windows));
    }
    // With f = 1 the kept pixels are the picture's: the bits of wang.
    const Pair small(300, 200);
    EXPECT_EQ(small.scores(Metric::kWangScaled), small.scores(Metric::kWang));
}

// Sums of exact integers, or of doubles in one fixed order without fused multiply-adds: these
// bits on every processor (scripts/cross runs this on arm64 and s390x) and vector width.
TEST(Metrics, GiveTheSameBitsEverywhere) {
    const Pair pair(61, 47);
    const Pair scaled(700, 650);
    const struct {
        Metric metric;
        const Pair& pair;
        double mean;
        std::size_t at;
        double score;
    } cases[] = {
        {Metric::kWang, pair, 0x1.8dfa8c0a45f4p-1, 321, 0x1.a4ced77b745f8p-1},
        {Metric::kSkimage, pair, 0x1.a24fca9944eb1p-1, 321, 0x1.78edd62b0f5a6p-1},
        {Metric::kFFmpeg, pair, 0x1.aa972fd1dcccp-1, 21, 0x1.e463c5209e1bdp-1},
        {Metric::kWangScaled, scaled, 0x1.fb444e5e444eap-1, 4321, 0x1.f9fd917b9ad2ap-1},
    };
    for (const auto& c : cases) {
        const std::vector<double> scores = c.pair.scores(c.metric);
        const double mean = std::accumulate(scores.begin(), scores.end(), 0.0) / scores.size();
        EXPECT_EQ(mean, c.mean) << metricName(c.metric) << " " << std::hexfloat << mean;
        EXPECT_EQ(scores[c.at], c.score)
            << metricName(c.metric) << " " << std::hexfloat << scores[c.at];
    }
}

// Identical pictures score exactly 1 in every window, whatever their levels.
TEST(Metrics, IdenticalPicturesScoreOneEverywhere) {
    const Pair pair(400, 390);
    for (Metric metric : {Metric::kWang, Metric::kWangScaled, Metric::kFFmpeg, Metric::kSkimage}) {
        const Windows windows = windowsOf(metric, pair.width, pair.height);
        std::vector<double> scores(static_cast<std::size_t>(windows.columns) * windows.rows);
        localScores(metric, {pair.first.data(), pair.width}, {pair.first.data(), pair.width},
                    pair.width, pair.height, scores.data());
        EXPECT_TRUE(std::all_of(scores.begin(), scores.end(), [](double s) { return s == 1; }))
            << metricName(metric);
    }
}

// A window is left out when its boxes hold an ignored pixel: for wang-scaled with f = 3, window
// column c spans the kept pixels c..c + 10, whose boxes span pixels 3c - 1..3c + 31.
TEST(Metrics, ScaledWindowsLeaveOutThePixelsTheirBoxesHold) {
    const Pair pair(641, 660);
    ImagePtr first(createImage(pair.width, pair.height, 8));
    ImagePtr second(createImage(pair.width, pair.height, 8));
    std::copy(pair.first.begin(), pair.first.end(), first->data);
    std::copy(pair.second.begin(), pair.second.end(), second->data);
    CompareOptions options;
    options.metric = Metric::kWangScaled;
    options.blockScores = true;
    for (const auto& [x, leftOutFirst] : {std::pair{31, true}, std::pair{32, false}}) {
        options.ignored.rectangles = {{x, 0, 1, 1}};
        const Comparison got =
            compare(imageSource(first.get()), imageSource(second.get()), options);
        ASSERT_EQ(got.verdict, kPairOk);
        EXPECT_EQ(got.leftOut[0], leftOutFirst) << x;
        EXPECT_TRUE(got.leftOut[1] && got.leftOut[10] && !got.leftOut[12]) << x;
        EXPECT_EQ(got.leftOut[11], !leftOutFirst) << x;
        EXPECT_FALSE(got.leftOut[got.windows.columns]) << x;
    }
}

// Two regular files are read at once, the second once the first's header is found good: the
// verdicts keep their order, and the mean is that of the pictures read one after the other.
TEST(Metrics, FilesReadAtOnceKeepTheVerdictsOrder) {
    const std::string good = test_files::dataPath("crafted/blocks-first.bmp");
    const std::string other = test_files::dataPath("crafted/blocks-second.bmp");
    const std::string cut = test_files::dataPath("crafted/cut-mid-band.bmp");
    const std::string missing = test_files::scratchPath("missing.bmp");
    CompareOptions options;
    options.metric = Metric::kSkimage;
    const auto verdict = [&](const std::string& a, const std::string& b) {
        return compare(fileSource(a.c_str()), fileSource(b.c_str()), options).verdict;
    };
    EXPECT_EQ(verdict(cut, missing), kFirstUnreadable);
    EXPECT_EQ(verdict(missing, cut), kFirstUnreadable);
    EXPECT_EQ(verdict(good, cut), kSecondUnreadable);
    EXPECT_EQ(verdict(good, test_files::dataPath("crafted/grey8x8.bmp")), kPairSizesDiffer);
    Image* a = nullptr;
    Image* b = nullptr;
    ASSERT_EQ(readImageFile(good.c_str(), &a), kReadOk);
    ASSERT_EQ(readImageFile(other.c_str(), &b), kReadOk);
    const ImagePtr first(a);
    const ImagePtr second(b);
    const Comparison files = compare(fileSource(good.c_str()), fileSource(other.c_str()), options);
    const Comparison held = compare(imageSource(a), imageSource(b), options);
    ASSERT_EQ(files.verdict, kPairOk);
    EXPECT_EQ(files.mean, held.mean);
}

// Pictures with a million windows or more are scored in bands on several threads: each band's
// windows have the bits of the same windows scored on one thread, in a picture of their rows.
TEST(MetricsOnThreads, BandsScoreAsOnePictureDoes) {
    const Pair pair(1100, 1000);
    const std::vector<double> whole = pair.scores(Metric::kWang);
    const int columns = pair.width - 10;
    for (int top : {0, 480, 985}) {
        const int rows = std::min(40, pair.height - 10 - top);
        std::vector<double> band(static_cast<std::size_t>(columns) * rows);
        const auto offset = static_cast<std::ptrdiff_t>(top) * pair.width;
        localScores(Metric::kWang, {pair.first.data() + offset, pair.width},
                    {pair.second.data() + offset, pair.width}, pair.width, rows + 10, band.data());
        EXPECT_TRUE(std::equal(band.begin(), band.end(), whole.begin() + top * columns)) << top;
    }
    // A million windows in too few rows for two bands: one thread scores them all.
    const Pair wide(110000, 20);
    const std::vector<double> scores = wide.scores(Metric::kWang);
    EXPECT_TRUE(std::none_of(scores.begin(), scores.end(), [](double s) { return s == 0; }));
}

}  // namespace
}  // namespace likeness
