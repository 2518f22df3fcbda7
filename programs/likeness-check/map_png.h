// Block maps written as PNG files.
#pragma once

#include <string>

#include "likeness/image.h"

namespace likeness::check {

// Writes the 8-bit image as a grey PNG file at path; false when it could not be written whole.
bool writePngMap(const std::string& path, const Image& map);

}  // namespace likeness::check
