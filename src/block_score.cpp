// Compiled twice: as it stands for any processor of its family, and (as block_score_avx2.cpp,
// with AVX2 enabled) for the newer ones, which leadingBlockScores then hands the work to.
#include "block_score.h"

#if defined(__AVX2__) || defined(__SSE2__)
#include <immintrin.h>
#endif

namespace likeness {

namespace {

constexpr int kRows = 8;

// The few vector operations the sums need, on the widest vectors this compilation allows.
#if defined(__AVX2__)
using Vector = __m256i;
using Doubles = __m256d;  // one per block of a group
struct Op {
    static Vector load(const std::uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const Vector*>(p));
    }
    static Vector zero() { return _mm256_setzero_si256(); }
    static Vector sumsOfEight(Vector v) { return _mm256_sad_epu8(v, zero()); }
    static Vector add64(Vector a, Vector b) { return _mm256_add_epi64(a, b); }
    static Vector add32(Vector a, Vector b) { return _mm256_add_epi32(a, b); }
    static Vector widenLow(Vector v) { return _mm256_unpacklo_epi8(v, zero()); }
    static Vector widenHigh(Vector v) { return _mm256_unpackhi_epi8(v, zero()); }
    static Vector multiplyAdd(Vector a, Vector b) { return _mm256_madd_epi16(a, b); }
    static Vector interleaveLow32(Vector a, Vector b) { return _mm256_unpacklo_epi32(a, b); }
    static Vector interleaveHigh32(Vector a, Vector b) { return _mm256_unpackhi_epi32(a, b); }
    static Vector shiftDown64(Vector v) { return _mm256_srli_si256(v, 8); }
    // The 32-bit lanes that order picks, as doubles.
    static Doubles lanesToDoubles(Vector v, Vector order) {
        return _mm256_cvtepi32_pd(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, order)));
    }
    // Each block's 64-bit sum of eight, or the block totals that blockTotals leaves, as doubles.
    static Doubles sumsToDoubles(Vector v) {
        return lanesToDoubles(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 0, 0, 0));
    }
    static Doubles totalsToDoubles(Vector v) {
        return lanesToDoubles(v, _mm256_setr_epi32(0, 1, 4, 5, 0, 0, 0, 0));
    }
};
#elif defined(__SSE2__)
using Vector = __m128i;
using Doubles = __m128d;
struct Op {
    static Vector load(const std::uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const Vector*>(p));
    }
    static Vector zero() { return _mm_setzero_si128(); }
    static Vector sumsOfEight(Vector v) { return _mm_sad_epu8(v, zero()); }
    static Vector add64(Vector a, Vector b) { return _mm_add_epi64(a, b); }
    static Vector add32(Vector a, Vector b) { return _mm_add_epi32(a, b); }
    static Vector widenLow(Vector v) { return _mm_unpacklo_epi8(v, zero()); }
    static Vector widenHigh(Vector v) { return _mm_unpackhi_epi8(v, zero()); }
    static Vector multiplyAdd(Vector a, Vector b) { return _mm_madd_epi16(a, b); }
    static Vector interleaveLow32(Vector a, Vector b) { return _mm_unpacklo_epi32(a, b); }
    static Vector interleaveHigh32(Vector a, Vector b) { return _mm_unpackhi_epi32(a, b); }
    static Vector shiftDown64(Vector v) { return _mm_srli_si128(v, 8); }
    // Each block's 64-bit sum of eight, or the block totals that blockTotals leaves, as doubles.
    static Doubles sumsToDoubles(Vector v) {
        return _mm_cvtepi32_pd(_mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    static Doubles totalsToDoubles(Vector v) { return _mm_cvtepi32_pd(v); }
};
#endif

#if defined(__AVX2__) || defined(__SSE2__)
// One block is 8 bytes of a row, so a vector holds a group of kGroup neighbouring blocks.
constexpr int kGroup = sizeof(Vector) / 8;

// Widening works within 128-bit halves, so the four 32-bit lanes of block 2k are in half k of
// lows and those of block 2k + 1 in half k of highs. This adds them up into lanes 0 and 1 of
// half k.
Vector blockTotals(Vector lows, Vector highs) {
    const Vector pairs =
        Op::add32(Op::interleaveLow32(lows, highs), Op::interleaveHigh32(lows, highs));
    return Op::add32(pairs, Op::shiftDown64(pairs));
}

// Scores one group of blocks from sums over its 8 rows. The sum of absolute differences from 0
// adds up each block's 8 bytes of a row; widened to 16 bits, each block's bytes give their squares
// and products in multiply-adds of neighbouring pairs, which cannot overflow 32 bits over 8 rows.
void scoreGroup(const std::uint8_t* first, std::size_t firstStride, const std::uint8_t* second,
                std::size_t secondStride, double* scores) {
    Vector sumA = Op::zero(), sumB = Op::zero();
    Vector squaresA[2] = {Op::zero(), Op::zero()}, squaresB[2] = {Op::zero(), Op::zero()};
    Vector products[2] = {Op::zero(), Op::zero()};
    for (int row = 0; row < kRows; ++row) {
        const Vector a = Op::load(first + row * firstStride);
        const Vector b = Op::load(second + row * secondStride);
        sumA = Op::add64(sumA, Op::sumsOfEight(a));
        sumB = Op::add64(sumB, Op::sumsOfEight(b));
        const Vector halvesA[2] = {Op::widenLow(a), Op::widenHigh(a)};
        const Vector halvesB[2] = {Op::widenLow(b), Op::widenHigh(b)};
        for (int half = 0; half < 2; ++half) {
            squaresA[half] =
                Op::add32(squaresA[half], Op::multiplyAdd(halvesA[half], halvesA[half]));
            squaresB[half] =
                Op::add32(squaresB[half], Op::multiplyAdd(halvesB[half], halvesB[half]));
            products[half] =
                Op::add32(products[half], Op::multiplyAdd(halvesA[half], halvesB[half]));
        }
    }
    // scoreFromSums scores the whole group at once, a block in each lane.
    const Doubles group = scoreFromSums(Op::sumsToDoubles(sumA), Op::sumsToDoubles(sumB),
                                        Op::totalsToDoubles(blockTotals(squaresA[0], squaresA[1])),
                                        Op::totalsToDoubles(blockTotals(squaresB[0], squaresB[1])),
                                        Op::totalsToDoubles(blockTotals(products[0], products[1])));
    __builtin_memcpy(scores, &group, sizeof group);
}

std::size_t scoreGroups(const std::uint8_t* first, std::size_t firstStride,
                        const std::uint8_t* second, std::size_t secondStride, std::size_t width,
                        double* scores) {
    std::size_t x0 = 0;
    for (; x0 + 8 * kGroup <= width; x0 += 8 * kGroup, scores += kGroup) {
        scoreGroup(first + x0, firstStride, second + x0, secondStride, scores);
    }
    return x0 / 8;
}
#else
std::size_t scoreGroups(const std::uint8_t*, std::size_t, const std::uint8_t*, std::size_t,
                        std::size_t, double*) {
    return 0;
}
#endif

}  // namespace

#if defined(LIKENESS_AVX2_KERNEL)
std::size_t leadingBlockScoresAVX2(const std::uint8_t* first, std::size_t firstStride,
                                   const std::uint8_t* second, std::size_t secondStride,
                                   std::size_t width, double* scores) {
    return scoreGroups(first, firstStride, second, secondStride, width, scores);
}
#else
std::size_t leadingBlockScoresBaseline(const std::uint8_t* first, std::size_t firstStride,
                                       const std::uint8_t* second, std::size_t secondStride,
                                       std::size_t width, double* scores) {
    return scoreGroups(first, firstStride, second, secondStride, width, scores);
}

bool hasAVX2Kernel() {
#if defined(LIKENESS_HAS_AVX2_KERNEL)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

std::size_t leadingBlockScores(const std::uint8_t* first, std::size_t firstStride,
                               const std::uint8_t* second, std::size_t secondStride,
                               std::size_t width, double* scores) {
#if defined(LIKENESS_HAS_AVX2_KERNEL)
    if (hasAVX2Kernel())
        return leadingBlockScoresAVX2(first, firstStride, second, secondStride, width, scores);
#endif
    return leadingBlockScoresBaseline(first, firstStride, second, secondStride, width, scores);
}
#endif

}  // namespace likeness
