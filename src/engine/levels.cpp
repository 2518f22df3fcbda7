#include "engine/levels.h"

namespace likeness {

namespace {

// A pass over every stored byte of a picture is worth the widest vector unit of the processor
// that runs it. Each pass is written once and always inlined into the builds of it below, where
// the compiler vectorises it for their unit (a call would run the plain build); integer loops
// over bytes, every build gives the same bytes.

[[gnu::always_inline]] inline void levelsPass(Pixels pixels,
                                              const std::array<std::uint8_t, 256>& grey,
                                              std::uint8_t* bytes, std::size_t count) {
    if (pixels == Pixels::kInverted) {
        for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
    } else if (pixels == Pixels::kPalette) {
        for (std::size_t i = 0; i < count; ++i) bytes[i] = grey[bytes[i]];
    }
}

// Where all three components are equal, any of them is the level, whatever their order.
[[gnu::always_inline]] inline void greyPass(const std::uint8_t* __restrict stored,
                                            std::uint8_t* __restrict grey, std::size_t width,
                                            bool* colour) {
    unsigned differ = 0;
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t first = stored[3 * x], second = stored[3 * x + 1],
                           third = stored[3 * x + 2];
        differ |= static_cast<unsigned>(first ^ second) | static_cast<unsigned>(second ^ third);
        grey[x] = second;
    }
    if (differ != 0) *colour = true;
}

// The three components apart, each into a row of its own, noting colour as greyPass does.
[[gnu::always_inline]] inline void channelsPass(const std::uint8_t* __restrict stored,
                                                std::uint8_t* __restrict first,
                                                std::uint8_t* __restrict second,
                                                std::uint8_t* __restrict third, std::size_t width,
                                                bool* colour) {
    unsigned differ = 0;
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t a = stored[3 * x], b = stored[3 * x + 1], c = stored[3 * x + 2];
        differ |= static_cast<unsigned>(a ^ b) | static_cast<unsigned>(b ^ c);
        first[x] = a;
        second[x] = b;
        third[x] = c;
    }
    if (differ != 0) *colour = true;
}

[[gnu::always_inline]] inline void lumaPass(const std::uint8_t* __restrict stored, Pixels order,
                                            std::uint8_t* __restrict luma, std::size_t width) {
    const std::size_t red = order == Pixels::kBlueGreenRed ? 2 : 0;
    const std::size_t blue = 2 - red;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned y = 299u * stored[3 * x + red] + 587u * stored[3 * x + 1] +
                           114u * stored[3 * x + blue] + 500u;
        luma[x] = static_cast<std::uint8_t>(y / 1000u);
    }
}

// The passes built for one vector unit.
struct Passes {
    decltype(&levelsPass) levels;
    decltype(&greyPass) grey;
    decltype(&lumaPass) luma;
    decltype(&channelsPass) channels;
};

constexpr Passes kPlainPasses{levelsPass, greyPass, lumaPass, channelsPass};

#if defined(__x86_64__) && defined(__GNUC__)
// On x86-64 the passes are built again for AVX2 and for the AVX-512 that x86-64-v4 adds, named by
// its features so that the check below names the same ones (Clang 14 cannot check for x86-64-v4
// as a whole); GCC makes the same code of them as for arch=x86-64-v4. The first call picks the
// widest build this processor runs. Left to the loader (target_clones, an ifunc), the choice was
// made by a resolver that runs before a sanitizer's runtime is ready: ThreadSanitizer's builds
// crashed before main.
template <auto pass, class... Arguments>
[[gnu::target("avx512f,avx512bw,avx512cd,avx512dq,avx512vl")]] void onAVX512(
    Arguments... arguments) {
    pass(arguments...);
}

template <auto pass, class... Arguments>
[[gnu::target("avx2")]] void onAVX2(Arguments... arguments) {
    pass(arguments...);
}

constexpr Passes kAVX512Passes{onAVX512<levelsPass>, onAVX512<greyPass>, onAVX512<lumaPass>,
                               onAVX512<channelsPass>};
constexpr Passes kAVX2Passes{onAVX2<levelsPass>, onAVX2<greyPass>, onAVX2<lumaPass>,
                             onAVX2<channelsPass>};

const Passes& passesThisProcessorRuns() {
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
        return kAVX512Passes;
    return __builtin_cpu_supports("avx2") ? kAVX2Passes : kPlainPasses;
}

const Passes& passes() {
    static const Passes& chosen = passesThisProcessorRuns();
    return chosen;
}
#else
const Passes& passes() {
    return kPlainPasses;
}
#endif

}  // namespace

void levelsInPlace(Pixels pixels, const std::array<std::uint8_t, 256>& grey, std::uint8_t* bytes,
                   std::size_t count) {
    passes().levels(pixels, grey, bytes, count);
}

void greyRow(const std::uint8_t* stored, std::uint8_t* grey, std::size_t width, bool* colour) {
    passes().grey(stored, grey, width, colour);
}

void lumaRow(const std::uint8_t* stored, Pixels order, std::uint8_t* luma, std::size_t width) {
    passes().luma(stored, order, luma, width);
}

void channelRows(const std::uint8_t* stored, const std::array<std::uint8_t*, 3>& channels,
                 std::size_t width, bool* colour) {
    passes().channels(stored, channels[0], channels[1], channels[2], width, colour);
}

}  // namespace likeness
