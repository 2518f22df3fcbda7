// Pictures written as PNG files, each whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "likeness/image.h"

namespace likeness::check {

// The image, 8-bit grey or 24-bit red, green, blue, as the bytes of a PNG file; empty for an
// image without pixels or one that libspng refuses.
std::vector<unsigned char> encodePng(const Image& image);

// Writes bytes as the file at path, whole or not at all; false when it could not be written.
bool writeBytes(const std::string& path, const std::vector<unsigned char>& bytes);

// Writes the image as a PNG file at path; false when it could not be written whole.
bool writePng(const std::string& path, const Image& image);

}  // namespace likeness::check
