// Rows as they are stored turned into grey levels: palette indices, and 24-bit pixels whose three
// components are equal (or, when asked for, their luma). Each is one pass over a row, built for the
// widest vector unit of the processor that runs it. Internal to the library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace likeness {

// How the stored bytes of a row become grey levels.
enum class Pixels {
    kGrey,          // they are the grey levels
    kPalette,       // indices into a table of grey levels
    kInverted,      // indices into the grey palette that runs from white to black
    kBlueGreenRed,  // three bytes a pixel, as BMP files store them
    kRedGreenBlue,  // three bytes a pixel, as decoders and images hold them
};

// Stored indices turned into their grey levels where they lie (kPalette through grey, kInverted
// by flipping every bit; any other kind is left as it is).
void levelsInPlace(Pixels pixels, const std::array<std::uint8_t, 256>& grey, std::uint8_t* bytes,
                   std::size_t count);

// The grey levels of one row of width three-byte pixels; colour is set at a pixel whose three
// components are not equal, and the levels are then of no use. The buffers never overlap.
void greyRow(const std::uint8_t* stored, std::uint8_t* grey, std::size_t width, bool* colour);

// The three components of one row of width three-byte pixels, each into a row of its own (in
// stored order); colour as greyRow sets it. The buffers never overlap.
void channelRows(const std::uint8_t* stored, const std::array<std::uint8_t*, 3>& channels,
                 std::size_t width, bool* colour);

// The luma of one row of width three-byte pixels in the given order (kBlueGreenRed or
// kRedGreenBlue): Y = (299 R + 587 G + 114 B + 500) / 1000 in integers, so that a grey pixel keeps
// its level.
void lumaRow(const std::uint8_t* stored, Pixels order, std::uint8_t* luma, std::size_t width);

}  // namespace likeness
