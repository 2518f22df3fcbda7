#include "likeness-check/map_png.h"

#include <spng.h>

#include <cstdio>
#include <memory>

namespace likeness::check {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

// Encodes the image into the open file; false when libspng refuses.
bool encode(std::FILE* file, const Image& map) {
    const std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context || spng_set_png_file(context.get(), file) != 0) return false;
    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(map.width);
    header.height = static_cast<std::uint32_t>(map.height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_GRAYSCALE;
    if (spng_set_ihdr(context.get(), &header) != 0) return false;
    const auto bytes = static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height);
    return spng_encode_image(context.get(), map.data, bytes, SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) ==
           0;
}

}  // namespace

bool writePngMap(const std::string& path, const Image& map) {
    if (map.depth != 8 || map.width <= 0 || map.height <= 0) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool encoded = encode(file, map);
    // A full disk shows only when the last bytes are flushed.
    const bool closed = std::fclose(file) == 0;
    if (!(encoded && closed)) std::remove(path.c_str());
    return encoded && closed;
}

}  // namespace likeness::check
