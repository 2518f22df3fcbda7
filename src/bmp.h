// Uncompressed device-independent bitmap (BMP) files: 8-bit palette and 24-bit true colour,
// with the 40-byte Windows or the 12-byte OS/2 info header.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image.h"

namespace likeness {

// Results of readBMPfile.
enum BMPResult {
    kBMPOk = 0,
    kBMPCannotOpen = -1,
    kBMPEmpty = -2,            // the file ended before its first two bytes
    kBMPUnsupportedBits = -3,  // bits per pixel other than 8 or 24
    kBMPBadHeader = -10,       // bad signature or header size, a cut header or palette, no image
    kBMPBadPixels = -20,       // compressed, or the file ended inside the pixel rows
};

// Reads the file at path into a new image handed over through out, which the caller then owns
// and releases with disposeImage. Returns 0 or one of the negative codes above. A failure inside
// the pixel rows still hands over the partly filled image; any earlier failure leaves out alone.
int readBMPfile(const char* path, Image** out);

// Little-endian field readers: 1 when the value was read, 0 when the stream ended first (out
// untouched). A DWORD is a 32-bit two's-complement value, so a stored side may be negative.
int freadWORD(std::uint16_t* value, std::FILE* stream);
int freadDWORD(std::int32_t* value, std::FILE* stream);

// Default palette length for a bit depth: 2, 16 or 256 entries for 1, 4 or 8 bits, else 0.
int countOfDIBColorEntries(int bits);

// Bytes in one stored row of width pixels: the pixel bytes rounded up to a multiple of 4.
// -1 for a negative width or a stride beyond the range of int.
int getDIBxmax(int width, int bits);

}  // namespace likeness
