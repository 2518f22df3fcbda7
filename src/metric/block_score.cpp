// Compiled three times: as it stands for any processor of its family, and (as
// block_score_avx2.cpp and block_score_avx512.cpp, with AVX2 or AVX-512 enabled, defining
// LIKENESS_KERNEL as the name of the kernel they build) for the newer ones, which
// leadingBlockScores then hands the work to.
#include "metric/block_score.h"

#include <array>
#include <utility>

#if defined(__SSE2__)
// GCC 12's AVX-512 intrinsics leave lanes undefined by initialising a variable with itself, which
// its own -Wuninitialized reports once they are inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace likeness {

namespace {

constexpr int kRows = 8;

// The few vector operations the sums need, on the widest vectors this compilation allows; 512-bit
// ones only with VNNI, whose byte dot products replace widening and multiply-adds.
// lanesToDoubles<lanes...> gives the 32-bit lanes it names, one per block of a group, as doubles;
// the other half of the order is left undefined, since only half of the lanes are taken.
#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VNNI__)
using Vector = __m512i;
using Doubles = __m512d;  // one per block of a group
struct Op {
    static Vector load(const std::uint8_t* p) { return _mm512_loadu_si512(p); }
    static Vector zero() { return _mm512_setzero_si512(); }
    static Vector sumsOfEight(Vector v) { return _mm512_sad_epu8(v, zero()); }
    static Vector add64(Vector a, Vector b) { return _mm512_add_epi64(a, b); }
    static Vector add32(Vector a, Vector b) { return _mm512_add_epi32(a, b); }
    template <int... lanes>
    static Doubles lanesToDoubles(Vector v) {
        const Vector order = _mm512_castsi256_si512(_mm256_setr_epi32(lanes...));
        return _mm512_cvtepi32_pd(_mm512_castsi512_si256(_mm512_permutexvar_epi32(order, v)));
    }
};
#elif defined(__AVX2__)
using Vector = __m256i;
using Doubles = __m256d;
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
    template <int... lanes>
    static Doubles lanesToDoubles(Vector v) {
        const Vector order = _mm256_castsi128_si256(_mm_setr_epi32(lanes...));
        return _mm256_cvtepi32_pd(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, order)));
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
    template <int first, int second>
    static Doubles lanesToDoubles(Vector v) {
        return _mm_cvtepi32_pd(_mm_shuffle_epi32(v, _MM_SHUFFLE(3, 2, second, first)));
    }
};
#endif

#if defined(__SSE2__)
// One block is 8 bytes of a row, so a vector holds a group of kGroup neighbouring blocks.
constexpr int kGroup = sizeof(Vector) / 8;

// The sum of eight bytes that block j of a group adds up is the low half of 64-bit lane j.
constexpr int sumLane(int block) {
    return 2 * block;
}

// The lanes that lane(j) names for each block j of the group, as doubles.
template <int (*lane)(int), int... block>
Doubles blocksToDoubles(Vector v, std::integer_sequence<int, block...>) {
    return Op::template lanesToDoubles<lane(block)...>(v);
}
template <int (*lane)(int)>
Doubles blocksToDoubles(Vector v) {
    return blocksToDoubles<lane>(v, std::make_integer_sequence<int, kGroup>());
}

// The sums over a group's 8 rows that score its blocks: of the levels of each image, of their
// squares and of their products. Each block's levels are added up in lane sumLane(block); its
// squares and products in lane productLane(block).
struct GroupSums {
    Vector levelsA, levelsB, squaresA, squaresB, products;
};

// The sum of absolute differences from 0 adds up each block's 8 bytes of a row.
#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VNNI__)
// Byte dot products multiply-add 4 bytes at a time, an unsigned byte by a signed one: a * b is
// a * (b - 128) + 128 a, where b - 128 is b with its top bit flipped, read as a signed byte. The
// sums of 8 rows are far from overflowing their 32-bit lanes, and the levels' sums give the
// 128 a back. Each block's sums lie in two neighbouring lanes, which pairUp adds.
GroupSums groupSums(const std::uint8_t* first, std::ptrdiff_t firstStride,
                    const std::uint8_t* second, std::ptrdiff_t secondStride) {
    const Vector topBit = _mm512_set1_epi8(static_cast<char>(0x80));
    GroupSums sums{Op::zero(), Op::zero(), Op::zero(), Op::zero(), Op::zero()};
    for (int row = 0; row < kRows; ++row) {
        const Vector a = Op::load(first + row * firstStride);
        const Vector b = Op::load(second + row * secondStride);
        sums.levelsA = Op::add64(sums.levelsA, Op::sumsOfEight(a));
        sums.levelsB = Op::add64(sums.levelsB, Op::sumsOfEight(b));
        const Vector signedA = _mm512_xor_si512(a, topBit);
        const Vector signedB = _mm512_xor_si512(b, topBit);
        sums.squaresA = _mm512_dpbusd_epi32(sums.squaresA, a, signedA);
        sums.squaresB = _mm512_dpbusd_epi32(sums.squaresB, b, signedB);
        sums.products = _mm512_dpbusd_epi32(sums.products, a, signedB);
    }
    const auto pairUp = [](Vector dotProducts, Vector levels) {
        const Vector pairs = Op::add32(dotProducts, _mm512_srli_epi64(dotProducts, 32));
        return Op::add32(pairs, _mm512_slli_epi64(levels, 7));
    };
    sums.squaresA = pairUp(sums.squaresA, sums.levelsA);
    sums.squaresB = pairUp(sums.squaresB, sums.levelsB);
    sums.products = pairUp(sums.products, sums.levelsA);
    return sums;
}
constexpr int (*productLane)(int) = sumLane;
#else
// Widening works within 128-bit quarters, so the four 32-bit lanes of block 2k are in quarter k
// of lows and those of block 2k + 1 in quarter k of highs. This adds them up into lanes 0 and 1
// of quarter k, the 32-bit lanes 4k and 4k + 1 of the vector that totalLane names.
Vector blockTotals(Vector lows, Vector highs) {
    const Vector pairs =
        Op::add32(Op::interleaveLow32(lows, highs), Op::interleaveHigh32(lows, highs));
    return Op::add32(pairs, Op::shiftDown64(pairs));
}
constexpr int totalLane(int block) {
    return 4 * (block / 2) + block % 2;
}

// Widened to 16 bits, each block's bytes give their squares and products in multiply-adds of
// neighbouring pairs, which cannot overflow 32 bits over 8 rows.
GroupSums groupSums(const std::uint8_t* first, std::ptrdiff_t firstStride,
                    const std::uint8_t* second, std::ptrdiff_t secondStride) {
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
    return {sumA, sumB, blockTotals(squaresA[0], squaresA[1]),
            blockTotals(squaresB[0], squaresB[1]), blockTotals(products[0], products[1])};
}
constexpr int (*productLane)(int) = totalLane;
#endif

// Scores one group of blocks; scoreFromSums scores the whole group at once, a block in each lane.
void scoreGroup(const std::uint8_t* first, std::ptrdiff_t firstStride, const std::uint8_t* second,
                std::ptrdiff_t secondStride, double* scores) {
    const GroupSums sums = groupSums(first, firstStride, second, secondStride);
    const Doubles group = scoreFromSums(
        blocksToDoubles<sumLane>(sums.levelsA), blocksToDoubles<sumLane>(sums.levelsB),
        blocksToDoubles<productLane>(sums.squaresA), blocksToDoubles<productLane>(sums.squaresB),
        blocksToDoubles<productLane>(sums.products));
    __builtin_memcpy(scores, &group, sizeof group);
}

std::size_t scoreGroups(const std::uint8_t* first, std::ptrdiff_t firstStride,
                        const std::uint8_t* second, std::ptrdiff_t secondStride, std::size_t width,
                        double* scores) {
    std::size_t x0 = 0;
    for (; x0 + 8 * kGroup <= width; x0 += 8 * kGroup, scores += kGroup) {
        scoreGroup(first + x0, firstStride, second + x0, secondStride, scores);
    }
    return x0 / 8;
}
#endif

}  // namespace

#if defined(LIKENESS_KERNEL)
constinit const BlockKernel LIKENESS_KERNEL{kGroup, scoreGroups};
#else
#if defined(__SSE2__)
constinit const BlockKernel kBaselineKernel{kGroup, scoreGroups};
#endif

namespace {

// At most one kernel of each width, held without allocating: the list is made by whichever
// thread scores first, and a first allocation on a new thread costs it a heap of its own.
struct KernelList {
    std::array<BlockKernel, 3> kernels;
    std::size_t count = 0;
    void add(const BlockKernel& kernel) { kernels[count++] = kernel; }
};

KernelList kernelsThisProcessorRuns() {
    KernelList list;
#if defined(LIKENESS_HAS_AVX512_KERNEL)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vnni"))
        list.add(kAVX512Kernel);
#endif
#if defined(LIKENESS_HAS_AVX2_KERNEL)
    if (__builtin_cpu_supports("avx2")) list.add(kAVX2Kernel);
#endif
#if defined(__SSE2__)
    list.add(kBaselineKernel);
#endif
    return list;
}

}  // namespace

std::span<const BlockKernel> blockKernels() {
    static const KernelList list = kernelsThisProcessorRuns();
    return {list.kernels.data(), list.count};
}

std::size_t leadingBlockScores(const std::uint8_t* first, std::ptrdiff_t firstStride,
                               const std::uint8_t* second, std::ptrdiff_t secondStride,
                               std::size_t width, double* scores) {
    std::size_t scored = 0;
    for (const BlockKernel& kernel : blockKernels()) {
        const std::size_t x0 = 8 * scored;
        scored += kernel.score(first + x0, firstStride, second + x0, secondStride, width - x0,
                               scores + scored);
    }
    return scored;
}
#endif

}  // namespace likeness
