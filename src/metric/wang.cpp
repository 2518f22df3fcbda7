// Wang, Bovik, Sheikh and Simoncelli's SSIM as their ssim_index.m computes it: an 11 x 11
// Gaussian window of standard deviation 1.5 whose weights sum to 1, at every position where it
// lies wholly inside the picture, weighted means, and the population variances and covariance
// E[x^2] - E[x]^2 under the weights. The window is the product of two one-dimensional ones, so
// each sum is taken along the rows and then down the columns, from the centre outwards, each tap
// pairing the two levels at the same distance: the same order for every window on every
// processor.
#include <algorithm>
#include <array>
#include <cstdint>
#include <system_error>
#include <thread>
#include <vector>

#include "metric/local_windows.h"

namespace likeness {

namespace {

constexpr int kRadius = 5;
constexpr int kSide = 2 * kRadius + 1;
// exp(-k^2 / (2 * 1.5^2)) over their sum for k = -5..5, k = 0 first, rounded from 60 digits:
// written out, since exp need not round alike on every processor.
constexpr std::array<double, kRadius + 1> kWeights = {0x1.106560aa892c0p-2, 0x1.b43c3f52b19f2p-3,
                                                      0x1.bff0fe8e98418p-4, 0x1.26eb175d83f66p-5,
                                                      0x1.f1fe01ae5a5b7p-8, 0x1.0d956b52a1d6fp-10};
// Under kWindows windows a picture is scored on one thread: starting more costs more than it saves.
constexpr std::int64_t kWindowsForThreads = std::int64_t{1} << 20;
constexpr unsigned kMostThreads = 16;

// Sums of the window's weights times one quantity along a row: at the centre c, w0 c[0] + w1
// (c[-1] + c[1]) + ... + w5 (c[-5] + c[5]).
inline double weighted(const double* c) {
    double sum = kWeights[0] * c[0];
    for (int k = 1; k <= kRadius; ++k) sum += kWeights[k] * (c[-k] + c[k]);
    return sum;
}

// The four quantities of both pictures whose weighted means give the index: the levels of each,
// the sum of both their squares and their product.
constexpr int kQuantities = 4;

// The last kSide rows of the four quantities, each summed along its row: row y in slot y % kSide.
class RowRing {
  public:
    RowRing(const DoubleRows& rows, int width)
        : rows_(rows),
          width_(width),
          columns_(width - 2 * kRadius),
          levels_(2 * static_cast<std::size_t>(width)),
          quantity_(static_cast<std::size_t>(width)),
          slots_(static_cast<std::size_t>(kSide * kQuantities) * columns_) {}

    void take(int y) {
        double* first = levels_.data();
        double* second = first + width_;
        rows_(y, first, second);
        const int slot = y % kSide;
        alongRow(first, slot, 0);
        alongRow(second, slot, 1);
        for (int x = 0; x < width_; ++x) quantity_[x] = first[x] * first[x] + second[x] * second[x];
        alongRow(quantity_.data(), slot, 2);
        for (int x = 0; x < width_; ++x) quantity_[x] = first[x] * second[x];
        alongRow(quantity_.data(), slot, 3);
    }

    // Scores the windows whose top row is row, once rows row to row + kSide - 1 are taken.
    void score(int row, double* scores) const {
        std::array<const double*, kSide> at{};
        for (int i = 0; i < kSide; ++i) at[i] = slotOf((row + i) % kSide, 0);
        for (int x = 0; x < columns_; ++x) {
            std::array<double, kQuantities> mean{};
            for (int q = 0; q < kQuantities; ++q) {
                double sum = kWeights[0] * at[kRadius][q * columns_ + x];
                for (int k = 1; k <= kRadius; ++k) {
                    sum += kWeights[k] *
                           (at[kRadius - k][q * columns_ + x] + at[kRadius + k][q * columns_ + x]);
                }
                mean[q] = sum;
            }
            const double means = mean[0] * mean[1];
            const double squares = mean[0] * mean[0] + mean[1] * mean[1];
            const double covariance = mean[3] - means;
            scores[x] = ((means + means) + kWindowC1) * ((covariance + covariance) + kWindowC2) /
                        ((squares + kWindowC1) * ((mean[2] - squares) + kWindowC2));
        }
    }

  private:
    const double* slotOf(int slot, int quantity) const {
        return slots_.data() + (static_cast<std::size_t>(slot) * kQuantities + quantity) * columns_;
    }

    void alongRow(const double* levels, int slot, int quantity) {
        double* out =
            slots_.data() + (static_cast<std::size_t>(slot) * kQuantities + quantity) * columns_;
        for (int x = 0; x < columns_; ++x) out[x] = weighted(levels + x + kRadius);
    }

    const DoubleRows& rows_;
    int width_;
    int columns_;
    std::vector<double> levels_;
    std::vector<double> quantity_;
    std::vector<double> slots_;
};

// Scores the window rows from begin to end; allocates nothing, so that it may run on a thread.
void scoreBand(RowRing* ring, int columns, int begin, int end, double* scores) {
    for (int y = begin; y < begin + kSide - 1; ++y) ring->take(y);
    for (int row = begin; row < end; ++row) {
        ring->take(row + kSide - 1);
        ring->score(row, scores + static_cast<std::ptrdiff_t>(row) * columns);
    }
}

unsigned threadsFor(int columns, int rows) {
    if (std::int64_t{columns} * rows < kWindowsForThreads) return 1;
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    return std::min({processors, kMostThreads, static_cast<unsigned>(rows / kSide)});
}

}  // namespace

void gaussianScores(const DoubleRows& rows, int width, int height, double* scores) {
    const int columns = width - 2 * kRadius;
    const int windowRows = height - 2 * kRadius;
    const unsigned threads = threadsFor(columns, windowRows);
    const auto bandStart = [&](unsigned band) {
        return static_cast<int>(std::int64_t{windowRows} * band / threads);
    };
    // Each band of window rows on a thread of its own, its memory taken here; the last band on
    // this thread, and any band whose thread cannot be started too.
    std::vector<RowRing> rings(threads, RowRing(rows, width));
    std::vector<std::thread> started;
    started.reserve(threads);
    for (unsigned band = 0; band < threads; ++band) {
        const int begin = bandStart(band);
        const int end = bandStart(band + 1);
        try {
            if (band + 1 < threads) {
                started.emplace_back(scoreBand, &rings[band], columns, begin, end, scores);
                continue;
            }
        } catch (const std::system_error&) {
        }
        scoreBand(&rings[band], columns, begin, end, scores);
    }
    for (std::thread& thread : started) thread.join();
}

void wangScores(GreyRows first, GreyRows second, int width, int height, double* scores) {
    const DoubleRows rows = [&](int y, double* a, double* b) {
        const std::uint8_t* p = first.data + y * first.stride;
        const std::uint8_t* q = second.data + y * second.stride;
        for (int x = 0; x < width; ++x) {
            a[x] = p[x];
            b[x] = q[x];
        }
    };
    gaussianScores(rows, width, height, scores);
}

}  // namespace likeness
