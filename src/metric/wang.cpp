// Wang, Bovik, Sheikh and Simoncelli's SSIM as their ssim_index.m computes it: an 11 x 11
// Gaussian window of standard deviation 1.5 whose weights sum to 1, at every position where it
// lies wholly inside the picture, weighted means, and the population variances and covariance
// E[x^2] - E[x]^2 under the weights. The window is the product of two one-dimensional ones, so
// each weighted sum is taken down the columns and then along the row, from the centre outwards,
// each tap pairing the two levels at the same distance: the same order for every window, and for
// every processor's vector width (each lane is one column).
#include <algorithm>
#include <array>
#include <cstdint>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

#include "metric/local_windows.h"

// The rows a loop reads and the rows it writes never overlap: GCC may take eight columns at once
// without checking them all against each other.
#if defined(__GNUC__) && !defined(__clang__)
#define LIKENESS_NO_OVERLAP _Pragma("GCC ivdep")
#else
#define LIKENESS_NO_OVERLAP
#endif

namespace likeness {

namespace {

constexpr int kRadius = 5;
constexpr int kSide = 2 * kRadius + 1;
// exp(-k^2 / (2 * 1.5^2)) over their sum for k = -5..5, k = 0 first, rounded from 60 digits:
// written out, since exp need not round alike on every processor.
constexpr std::array<double, kRadius + 1> kWeights = {0x1.106560aa892c0p-2, 0x1.b43c3f52b19f2p-3,
                                                      0x1.bff0fe8e98418p-4, 0x1.26eb175d83f66p-5,
                                                      0x1.f1fe01ae5a5b7p-8, 0x1.0d956b52a1d6fp-10};
// Under this many windows a picture is scored on one thread: starting more costs more than it
// saves.
constexpr std::int64_t kWindowsForThreads = std::int64_t{1} << 20;
constexpr unsigned kMostThreads = 16;

// The weighted means of the window's columns, for the four quantities whose means give the index:
// the levels of each picture, the sum of both their squares and their product.
struct ColumnMeans {
    std::vector<double> first, second, squares, products;
    explicit ColumnMeans(int width)
        : first(width), second(width), squares(width), products(width) {}
};

// Down the columns of the kSide rows from top; Level is a byte (sums of levels and of their
// squares and products are then exact 32-bit integers, Sum) or a double (Sum a double).
template <class Level, class Sum>
inline __attribute__((always_inline)) void downColumns(Planes<Level> planes, int top,
                                                       ColumnMeans* means) {
    const std::ptrdiff_t centre = top + kRadius;
    const Level* a = planes.first + centre * planes.firstStride;
    const Level* b = planes.second + centre * planes.secondStride;
    double* __restrict first = means->first.data();
    double* __restrict second = means->second.data();
    double* __restrict squares = means->squares.data();
    double* __restrict products = means->products.data();
    const std::ptrdiff_t sa = planes.firstStride;
    const std::ptrdiff_t sb = planes.secondStride;
    LIKENESS_NO_OVERLAP
    for (int x = 0; x < planes.width; ++x) {
        const Sum u = a[x];
        const Sum v = b[x];
        double mu = kWeights[0] * static_cast<double>(u);
        double mv = kWeights[0] * static_cast<double>(v);
        double ms = kWeights[0] * static_cast<double>(u * u + v * v);
        double mp = kWeights[0] * static_cast<double>(u * v);
        for (int k = 1; k <= kRadius; ++k) {
            const Sum u0 = a[x - k * sa];
            const Sum u1 = a[x + k * sa];
            const Sum v0 = b[x - k * sb];
            const Sum v1 = b[x + k * sb];
            mu += kWeights[k] * static_cast<double>(u0 + u1);
            mv += kWeights[k] * static_cast<double>(v0 + v1);
            ms += kWeights[k] * static_cast<double>((u0 * u0 + u1 * u1) + (v0 * v0 + v1 * v1));
            mp += kWeights[k] * static_cast<double>(u0 * v0 + u1 * v1);
        }
        first[x] = mu;
        second[x] = mv;
        squares[x] = ms;
        products[x] = mp;
    }
}

inline __attribute__((always_inline)) double alongRow(const double* __restrict c) {
    double sum = kWeights[0] * c[0];
    for (int k = 1; k <= kRadius; ++k) sum += kWeights[k] * (c[-k] + c[k]);
    return sum;
}

// The scores of a row of windows from their columns' means.
inline __attribute__((always_inline)) void scoreRow(const ColumnMeans& means, int columns,
                                                    double* __restrict scores) {
    const double* __restrict first = means.first.data() + kRadius;
    const double* __restrict second = means.second.data() + kRadius;
    const double* __restrict squares = means.squares.data() + kRadius;
    const double* __restrict products = means.products.data() + kRadius;
    for (int x = 0; x < columns; ++x) {
        const double mu = alongRow(first + x);
        const double mv = alongRow(second + x);
        const double both = mu * mv;
        const double meanSquares = mu * mu + mv * mv;
        const double covariance = alongRow(products + x) - both;
        scores[x] =
            ((both + both) + kWindowC1) * ((covariance + covariance) + kWindowC2) /
            ((meanSquares + kWindowC1) * ((alongRow(squares + x) - meanSquares) + kWindowC2));
    }
}

template <class Level, class Sum>
inline __attribute__((always_inline)) void scoreBandOf(Planes<Level> planes, int begin, int end,
                                                       ColumnMeans* means, double* scores) {
    const int columns = planes.width - 2 * kRadius;
    for (int row = begin; row < end; ++row) {
        downColumns<Level, Sum>(planes, row, means);
        scoreRow(*means, columns, scores + static_cast<std::ptrdiff_t>(row) * columns);
    }
}

// Scores the window rows from begin to end; allocates nothing, so that it may run on a thread.
template <class Level>
using BandScorer = void (*)(Planes<Level>, int, int, ColumnMeans*, double*);

// Sums of bytes are exact in 32-bit integers; sums of doubles stay doubles.
template <class Level>
using SumOf = std::conditional_t<std::is_same_v<Level, std::uint8_t>, std::int32_t, double>;

template <class Level>
void scoreBand(Planes<Level> planes, int begin, int end, ColumnMeans* means, double* scores) {
    scoreBandOf<Level, SumOf<Level>>(planes, begin, end, means, scores);
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// The bands are built again for AVX2 and for AVX-512: wider vectors, the same operations on every
// lane. The first call picks the widest build this processor runs; a loader's resolver
// (target_clones) would choose before a sanitizer's runtime is ready, and ThreadSanitizer's
// builds crashed before main.
template <class Level>
[[gnu::target("avx512f")]] void scoreBandOnAVX512(Planes<Level> planes, int begin, int end,
                                                  ColumnMeans* means, double* scores) {
    scoreBandOf<Level, SumOf<Level>>(planes, begin, end, means, scores);
}

template <class Level>
[[gnu::target("avx2")]] void scoreBandOnAVX2(Planes<Level> planes, int begin, int end,
                                             ColumnMeans* means, double* scores) {
    scoreBandOf<Level, SumOf<Level>>(planes, begin, end, means, scores);
}

template <class Level>
BandScorer<Level> bandScorer() {
    static const BandScorer<Level> chosen =
        __builtin_cpu_supports("avx512f") ? scoreBandOnAVX512<Level>
        : __builtin_cpu_supports("avx2")  ? scoreBandOnAVX2<Level>
                                          : scoreBand<Level>;
    return chosen;
}
#else
template <class Level>
BandScorer<Level> bandScorer() {
    return scoreBand<Level>;
}
#endif

unsigned threadsFor(int columns, int rows) {
    if (std::int64_t{columns} * rows < kWindowsForThreads) return 1;
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    // A band of a few rows costs its thread more than it scores.
    return std::clamp(static_cast<unsigned>(rows / kSide), 1u, std::min(processors, kMostThreads));
}

}  // namespace

template <class Level>
void gaussianScores(Planes<Level> planes, double* scores) {
    const int windowRows = planes.height - 2 * kRadius;
    const unsigned threads = threadsFor(planes.width - 2 * kRadius, windowRows);
    const auto bandStart = [&](unsigned band) {
        return static_cast<int>(std::int64_t{windowRows} * band / threads);
    };
    // Each band of window rows on a thread of its own, its memory taken here; the last band on
    // this thread, and any band whose thread cannot be started too.
    std::vector<ColumnMeans> means(threads, ColumnMeans(planes.width));
    std::vector<std::thread> started;
    started.reserve(threads);
    for (unsigned band = 0; band < threads; ++band) {
        const BandScorer<Level> score = bandScorer<Level>();
        const int begin = bandStart(band);
        const int end = bandStart(band + 1);
        try {
            if (band + 1 < threads) {
                started.emplace_back(score, planes, begin, end, &means[band], scores);
                continue;
            }
        } catch (const std::system_error&) {
        }
        score(planes, begin, end, &means[band], scores);
    }
    for (std::thread& thread : started) thread.join();
}

template void gaussianScores(Planes<std::uint8_t> planes, double* scores);
template void gaussianScores(Planes<double> planes, double* scores);

void wangScores(GreyRows first, GreyRows second, int width, int height, double* scores) {
    gaussianScores(
        Planes<std::uint8_t>{first.data, first.stride, second.data, second.stride, width, height},
        scores);
}

}  // namespace likeness
