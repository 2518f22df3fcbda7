#include "likeness-check/masks.h"

#include <cstddef>
#include <cstdint>
#include <utility>

#include "likeness/engine.h"
#include "likeness/read_result.h"

namespace likeness::check {

ImagePtr leftOutWhereBlack(const Image& picture) {
    ImagePtr mask(createImage(picture.width, picture.height, 8));
    if (!mask) return nullptr;
    const std::size_t bytes = picture.depth == 24 ? 3 : 1;
    const std::size_t pixels =
        static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    const std::uint8_t* level = picture.data;
    for (std::size_t i = 0; i < pixels; ++i, level += bytes) {
        const bool black = bytes == 1 ? level[0] == 0 : (level[0] | level[1] | level[2]) == 0;
        mask->data[i] = black ? 1 : 0;
    }
    return mask;
}

Mask loadMask(const std::string& path) {
    Image* raw = nullptr;
    const int code = readSource(fileSource(path.c_str()), limitsFromEnvironment(), &raw);
    const ImagePtr picture(raw);
    if (code != kReadOk) return {nullptr, code};
    ImagePtr mask = leftOutWhereBlack(*picture);
    if (!mask) return {nullptr, kOutOfMemory};
    return {std::move(mask), kReadOk};
}

}  // namespace likeness::check
