// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <cstdio>

#include "image.h"
#include "read_result.h"

namespace likeness {

// Each format's reader from just after the bytes that told the format, which the caller has read:
// "BM" for BMP, the first two bytes of the PNG signature, "P5" or "P2" (plain) for PGM, the
// start-of-image marker FF D8 for JPEG.
int readBMPafterSignature(std::FILE* stream, Image** out);
int readPNGafterSignature(std::FILE* stream, Image** out);
int readJPEGafterSignature(std::FILE* stream, Image** out);
int readPGMafterMagic(std::FILE* stream, bool plain, Image** out);

// Opens the file at path through a buffer that makes large files fast, reads it with read and
// closes it; -1 when it cannot be opened.
int readFileWith(const char* path, Image** out, int (*read)(std::FILE*, Image**));

}  // namespace likeness
