// Masks and rectangles of pixels a pair's comparison leaves out.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "likeness/image.h"

namespace likeness::check {

// A mask file read and turned into the engine's terms, every pixel left out not 0; or the
// reader's result code when it could not be read.
struct Mask {
    ImagePtr leftOut;
    int code = 0;
};

// Reads the mask file at path: a pixel whose level as read is 0 (in a colour file, every channel
// 0) is left out. Alpha plays no part, as nowhere else.
Mask loadMask(const std::string& path);

// The mask of an image as read, in the engine's terms; nullptr when memory cannot be had.
ImagePtr leftOutWhereBlack(const Image& picture);

}  // namespace likeness::check
