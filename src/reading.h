// What the readers of the different file formats share. Internal to the library.
#pragma once

#include <cstdio>

#include "image.h"

namespace likeness {

// The BMP reader from just after the "BM" signature, for a caller that has read it already.
int readBMPafterSignature(std::FILE* stream, Image** out);

// Opens the file at path through a buffer that makes large files fast, reads it with read and
// closes it; -1 when it cannot be opened.
int readFileWith(const char* path, Image** out, int (*read)(std::FILE*, Image**));

}  // namespace likeness
