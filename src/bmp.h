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

// Writes the image as an uncompressed file with a 40-byte Windows header: 8-bit images with a
// grey palette, 24-bit images without one. Returns 0 when the whole file was written, 1 for an
// image of another depth or without pixels, a file beyond the 4 GiB the size field can state
// (in these cases no file is created), a file that cannot be opened or a failed write.
int writeBMPfile(const char* path, const Image* image);

// Little-endian field readers: 1 when the value was read, 0 when the stream ended first (out
// untouched). A DWORD is a 32-bit two's-complement value, so a stored side may be negative.
int freadWORD(std::uint16_t* value, std::FILE* stream);
int freadDWORD(std::int32_t* value, std::FILE* stream);

// Little-endian field writers: the low 16 bits of value, or all 32. 1 when the stream took every
// byte, else 0.
int fwriteWORD(unsigned value, std::FILE* stream);
int fwriteDWORD(std::uint32_t value, std::FILE* stream);

// Default palette length for a bit depth: 2, 16 or 256 entries for 1, 4 or 8 bits, else 0.
int countOfDIBColorEntries(int bits);

// Bytes in one stored row of width pixels: the pixel bytes rounded up to a multiple of 4.
// -1 for a negative width or a stride beyond the range of int.
int getDIBxmax(int width, int bits);

}  // namespace likeness
