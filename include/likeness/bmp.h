// Device-independent bitmap (BMP) files: 8-bit palette and 24-bit true colour files, read with
// the 12-byte OS/2 or the 40-byte Windows info header and its longer versions, uncompressed or
// (8-bit) run-length encoded; written uncompressed with the 40-byte header.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image.h"
#include "read_limits.h"
#include "read_result.h"

namespace likeness {

// Reads the file at path into a new image handed over through out, which the caller then owns
// and releases with disposeImage. Returns kReadOk or a negative ReadResult. A failure inside
// the pixels still hands over the partly filled image, 0 wherever the file ended; any earlier
// failure leaves out alone. A run-length file beyond the limits' ceiling is refused with
// kBadHeader; a file that cannot be opened or read (a folder, a read error) gives kCannotOpen.
int readBMPfile(const char* path, Image** out, const ReadLimits& limits);
// With the default limits.
int readBMPfile(const char* path, Image** out);

// The same from an open stream, read from where it stands and never moved back; the caller
// closes it.
int readBMPstream(std::FILE* stream, Image** out, const ReadLimits& limits);
int readBMPstream(std::FILE* stream, Image** out);

// Writes the image as an uncompressed file with a 40-byte Windows header: 8-bit images with a
// grey palette, 24-bit images without one. Returns 0 when the whole file was written, 1 for an
// image of another depth or without pixels, a file beyond the 4 GiB the size field can state
// (in these cases no file is created), a file that cannot be opened or a failed write: the file
// is written whole or not at all (see writeWholeFile), and an earlier file at path stays then.
int writeBMPfile(const char* path, const Image* image);

// The same into an open stream, which the caller flushes and closes.
int writeBMPstream(std::FILE* stream, const Image* image);

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

}  // namespace likeness
