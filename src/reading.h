// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image.h"
#include "read_limits.h"
#include "read_result.h"

namespace likeness {

// Reads one image from an open stream into out, with the ReadResult codes.
using FormatReader = int (*)(std::FILE* stream, Image** out, const ReadLimits& limits);

// Each format's reader from just after the bytes that told the format, which the caller has read:
// "BM" for BMP, the first two bytes of the PNG signature, "P5" or "P2" (plain) for PGM, the
// start-of-image marker FF D8 for JPEG. The readers of compressed pictures take the limits.
int readBMPafterSignature(std::FILE* stream, Image** out, const ReadLimits& limits);
int readPNGafterSignature(std::FILE* stream, Image** out, const ReadLimits& limits);
int readJPEGafterSignature(std::FILE* stream, Image** out, const ReadLimits& limits);
int readPGMafterMagic(std::FILE* stream, bool plain, Image** out);

// True when a compressed picture of these sides is within the limits' ceiling; each reader of
// such pictures asks as soon as its header has given the sides.
bool withinCeiling(std::int64_t width, std::int64_t height, const ReadLimits& limits);

// Reads the stream with read and hands over its image, unless the stream met a read error (a
// folder opens, but cannot be read): that is not the end of the file, so no image is handed over
// and the result is kCannotOpen.
int readStreamWith(std::FILE* stream, Image** out, const ReadLimits& limits, FormatReader read);

// Opens the file at path through a buffer that makes large files fast, reads it with read and
// closes it; kCannotOpen when it cannot be opened.
int readFileWith(const char* path, Image** out, const ReadLimits& limits, FormatReader read);

}  // namespace likeness
