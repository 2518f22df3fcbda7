// Portable Network Graphics (PNG) files, decoded by libspng.
#include <spng.h>

#include <cstdint>
#include <memory>
#include <new>

#include "formats/reading.h"

namespace likeness {

namespace {

constexpr unsigned char kPNGSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Ancillary chunks (text, profiles) are kept by libspng in memory: a hostile file may not make it
// keep more than this, nor announce a longer chunk.
constexpr std::size_t kPNGChunkLimit = std::size_t{64} << 20;
constexpr std::size_t kPNGChunkCacheLimit = std::size_t{64} << 20;

using PNGContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

// The stream libspng reads: the two bytes of the signature that told the format, then the rest
// of the file. Nothing is read twice, so a pipe works as well as a file.
struct PNGSource {
    std::FILE* file;
    std::size_t signatureRead;  // of the first two bytes, how many libspng has had
};

int readPNGbytes(spng_ctx*, void* user, void* out, std::size_t length) {
    auto* source = static_cast<PNGSource*>(user);
    auto* bytes = static_cast<unsigned char*>(out);
    for (; source->signatureRead < 2 && length > 0; --length) {
        *bytes++ = kPNGSignature[source->signatureRead++];
    }
    return std::fread(bytes, 1, length, source->file) == length ? 0 : SPNG_IO_EOF;
}

// A decoder on the source, with limits that keep a hostile file within the image model.
PNGContext openPNG(PNGSource* source) {
    PNGContext context(spng_ctx_new(0), spng_ctx_free);
    if (context &&
        (spng_set_image_limits(context.get(), INT32_MAX, INT32_MAX) != 0 ||
         spng_set_chunk_limits(context.get(), kPNGChunkLimit, kPNGChunkCacheLimit) != 0 ||
         spng_set_png_stream(context.get(), readPNGbytes, source) != 0)) {
        context.reset();
    }
    return context;
}

// Decodes the whole picture in format into out, size bytes.
int decodePNG(spng_ctx* context, int format, std::uint8_t* out, std::size_t size) {
    // The chunks after the pixels are read as well, so that a file cut after them, or one whose
    // last checksum is wrong, is refused like any broken file.
    const bool decoded =
        spng_decode_image(context, out, size, format, 0) == 0 && spng_decode_chunks(context) == 0;
    return decoded ? kReadOk : kDecoderRefused;
}

// Grey pictures decode to 8 bits directly; palette and grey-alpha ones through red, green, blue,
// of which the image keeps red (a palette entry's red, as for BMP palettes; the grey level).
int decodeGreyPNG(spng_ctx* context, const spng_ihdr& header, Image* image) {
    const std::size_t pixels =
        static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    if (header.color_type == SPNG_COLOR_TYPE_GRAYSCALE) {
        return decodePNG(context, SPNG_FMT_G8, image->data, pixels);
    }
    std::int64_t bytes = 0;
    if (!checkedSize(static_cast<std::int64_t>(pixels), 3, &bytes)) return kBadHeader;
    const std::unique_ptr<std::uint8_t[]> colours(
        new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]);
    if (!colours) return kBadHeader;
    const int result =
        decodePNG(context, SPNG_FMT_RGB8, colours.get(), static_cast<std::size_t>(bytes));
    for (std::size_t i = 0; result == kReadOk && i < pixels; ++i) image->data[i] = colours[3 * i];
    return result;
}

}  // namespace

int readPNGafterSignature(std::FILE* file, Image** out, const ReadLimits& limits) {
    PNGSource source{file, 0};
    PNGContext context = openPNG(&source);
    spng_ihdr header{};
    if (!context || spng_get_ihdr(context.get(), &header) != 0) return kDecoderRefused;
    const bool grey = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    if (grey && header.bit_depth == 16) return kUnsupportedDepth;
    if (!withinCeiling(header.width, header.height, limits)) return kBadHeader;
    const bool colour = header.color_type == SPNG_COLOR_TYPE_TRUECOLOR ||
                        header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    // The limits keep both sides within 2^31 - 1; createImage keeps the buffer within the model.
    ImagePtr image(createImage(static_cast<int>(header.width), static_cast<int>(header.height),
                               colour ? 24 : 8));
    if (!image) return kBadHeader;
    const std::size_t bytes = static_cast<std::size_t>(image->width) *
                              static_cast<std::size_t>(image->height) * (colour ? 3 : 1);
    const int result = colour ? decodePNG(context.get(), SPNG_FMT_RGB8, image->data, bytes)
                              : decodeGreyPNG(context.get(), header, image.get());
    if (result == kReadOk) *out = image.release();
    return result;
}

}  // namespace likeness
