#include "image_file.h"

#include <spng.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <new>

#include "bmp.h"
#include "reading.h"

namespace likeness {

namespace {

constexpr unsigned char kPNGSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// Ancillary chunks (text, profiles) are kept by libspng in memory: a hostile file may not make it
// keep more than this, nor announce a longer chunk.
constexpr std::size_t kPNGChunkLimit = std::size_t{64} << 20;
constexpr std::size_t kPNGChunkCacheLimit = std::size_t{64} << 20;

// ----- PGM: a text header of magic number, width, height and maxval, separated by whitespace and
// comments from "#" to the end of the line, then the samples.

// The first character after whitespace and comments, or EOF.
int skipSeparators(std::FILE* file) {
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c == '#') {
            while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
        } else if (!std::isspace(c)) {
            return c;
        }
    }
    return EOF;
}

// Reads a decimal number and the one character that ends it; false for none, or one past 2^31 - 1.
bool readNumber(std::FILE* file, int* value) {
    int c = skipSeparators(file);
    if (!std::isdigit(c)) return false;
    std::int64_t number = 0;
    for (; std::isdigit(c); c = std::fgetc(file)) {
        number = number * 10 + (c - '0');
        if (number > INT32_MAX) return false;
    }
    // A comment may follow a header field directly.
    if (c == '#') std::ungetc(c, file);
    *value = static_cast<int>(number);
    return c == EOF || c == '#' || std::isspace(c);
}

// round(v * 255 / maxval), as netpbm scales samples.
std::uint8_t scaleSample(int value, int maxval) {
    return static_cast<std::uint8_t>((2 * value * 255 + maxval) / (2 * maxval));
}

int readPGMsamples(std::FILE* file, bool plain, int maxval, Image* image) {
    const auto count =
        static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height);
    std::size_t read = 0;
    if (plain) {
        int value = 0;
        while (read < count && readNumber(file, &value) && value <= maxval)
            image->data[read++] = static_cast<std::uint8_t>(value);
    } else {
        read = std::fread(image->data, 1, count, file);
    }
    // 255, the common maxval, leaves every sample as it is and none above it.
    if (maxval == 255) return read == count ? kBMPOk : kBMPBadPixels;
    bool valid = true;
    for (std::size_t i = 0; i < read; ++i) {
        valid = valid && image->data[i] <= maxval;
        image->data[i] = scaleSample(std::min<int>(image->data[i], maxval), maxval);
    }
    return read == count && valid ? kBMPOk : kBMPBadPixels;
}

// The header after its magic number, "P5" (binary samples) or "P2" (plain), then the samples.
int readPGM(std::FILE* file, bool plain, Image** out) {
    int width = 0;
    int height = 0;
    int maxval = 0;
    if (!readNumber(file, &width) || !readNumber(file, &height) || !readNumber(file, &maxval) ||
        maxval == 0) {
        return kBMPBadHeader;
    }
    if (maxval > 255) return kBMPUnsupportedBits;
    Image* image = createImage(width, height, 8);
    if (image == nullptr) return kBMPBadHeader;
    *out = image;
    return readPGMsamples(file, plain, maxval, image);
}

// ----- PNG, through libspng.

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
    return decoded ? kBMPOk : kImageDecoderRefused;
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
    if (!checkedSize(static_cast<std::int64_t>(pixels), 3, &bytes)) return kBMPBadHeader;
    const std::unique_ptr<std::uint8_t[]> colours(
        new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]);
    if (!colours) return kBMPBadHeader;
    const int result =
        decodePNG(context, SPNG_FMT_RGB8, colours.get(), static_cast<std::size_t>(bytes));
    for (std::size_t i = 0; result == kBMPOk && i < pixels; ++i) image->data[i] = colours[3 * i];
    return result;
}

// A file whose first two bytes are those of the PNG signature; libspng checks the rest.
int readPNG(std::FILE* file, Image** out) {
    PNGSource source{file, 0};
    PNGContext context = openPNG(&source);
    spng_ihdr header{};
    if (!context || spng_get_ihdr(context.get(), &header) != 0) return kImageDecoderRefused;
    const bool grey = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    if (grey && header.bit_depth == 16) return kBMPUnsupportedBits;
    const bool colour = header.color_type == SPNG_COLOR_TYPE_TRUECOLOR ||
                        header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    // The limits keep both sides within 2^31 - 1; createImage keeps the buffer within the model.
    ImagePtr image(createImage(static_cast<int>(header.width), static_cast<int>(header.height),
                               colour ? 24 : 8));
    if (!image) return kBMPBadHeader;
    const std::size_t bytes = static_cast<std::size_t>(image->width) *
                              static_cast<std::size_t>(image->height) * (colour ? 3 : 1);
    const int result = colour ? decodePNG(context.get(), SPNG_FMT_RGB8, image->data, bytes)
                              : decodeGreyPNG(context.get(), header, image.get());
    if (result == kBMPOk) *out = image.release();
    return result;
}

}  // namespace

int readImageStream(std::FILE* stream, Image** out) {
    const int first = std::fgetc(stream);
    const int second = std::fgetc(stream);
    if (first == EOF || second == EOF) return kBMPEmpty;
    if (first == 'B' && second == 'M') return readBMPafterSignature(stream, out);
    if (first == kPNGSignature[0] && second == kPNGSignature[1]) return readPNG(stream, out);
    if (first == 'P' && (second == '5' || second == '2'))
        return readPGM(stream, second == '2', out);
    return kBMPBadHeader;
}

int readImageFile(const char* path, Image** out) {
    return readFileWith(path, out, readImageStream);
}

}  // namespace likeness
