#include "engine/levels.h"

namespace likeness {

// A pass over every stored byte of a picture is worth the widest vector unit of the processor
// that runs it: on x86-64 the compiler builds such a pass for several and the program picks one
// as it starts.
#if defined(__x86_64__) && defined(__GNUC__)
#define LIKENESS_FOR_EACH_VECTOR_UNIT \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define LIKENESS_FOR_EACH_VECTOR_UNIT
#endif

LIKENESS_FOR_EACH_VECTOR_UNIT
void levelsInPlace(Pixels pixels, const std::array<std::uint8_t, 256>& grey, std::uint8_t* bytes,
                   std::size_t count) {
    if (pixels == Pixels::kInverted) {
        for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
    } else if (pixels == Pixels::kPalette) {
        for (std::size_t i = 0; i < count; ++i) bytes[i] = grey[bytes[i]];
    }
}

// Where all three components are equal, any of them is the level, whatever their order.
LIKENESS_FOR_EACH_VECTOR_UNIT
void greyRow(const std::uint8_t* __restrict stored, std::uint8_t* __restrict grey,
             std::size_t width, bool* colour) {
    unsigned differ = 0;
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t first = stored[3 * x], second = stored[3 * x + 1],
                           third = stored[3 * x + 2];
        differ |= static_cast<unsigned>(first ^ second) | static_cast<unsigned>(second ^ third);
        grey[x] = second;
    }
    if (differ != 0) *colour = true;
}

LIKENESS_FOR_EACH_VECTOR_UNIT
void lumaRow(const std::uint8_t* __restrict stored, Pixels order, std::uint8_t* __restrict luma,
             std::size_t width) {
    const std::size_t red = order == Pixels::kBlueGreenRed ? 2 : 0;
    const std::size_t blue = 2 - red;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned y = 299u * stored[3 * x + red] + 587u * stored[3 * x + 1] +
                           114u * stored[3 * x + blue] + 500u;
        luma[x] = static_cast<std::uint8_t>(y / 1000u);
    }
}

}  // namespace likeness
