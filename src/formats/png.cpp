// Portable Network Graphics (PNG) files, decoded by libspng a row at a time.
#include <spng.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/reading.h"
#include "formats/row_source.h"

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
struct PNGStream {
    std::FILE* file;
    std::size_t signatureRead;  // of the first two bytes, how many libspng has had
};

int readPNGbytes(spng_ctx*, void* user, void* out, std::size_t length) {
    auto* source = static_cast<PNGStream*>(user);
    auto* bytes = static_cast<unsigned char*>(out);
    for (; source->signatureRead < 2 && length > 0; --length) {
        *bytes++ = kPNGSignature[source->signatureRead++];
    }
    return std::fread(bytes, 1, length, source->file) == length ? 0 : SPNG_IO_EOF;
}

// What a failed libspng call means for the reader. libspng reports some failed allocations as
// such, but one inside zlib as a zlib error; the allocator's errno tells them from broken data, so
// each call into libspng starts with errno cleared.
int refusal(int error) {
    return error == SPNG_EMEM || errno == ENOMEM ? kOutOfMemory : kDecoderRefused;
}

// Grey pictures of up to 8 bits decode to 8 bits directly; palette and grey-alpha pictures of 8
// bits or less through red, green, blue, of which the reader keeps red (a palette entry's red, as
// for BMP palettes; the grey level), and 16-bit pictures through 16-bit red, green, blue, alpha,
// each level scaled to 8 bits. Colour pictures decode to 24 bits.
class PNGRows final : public RowSource {
  public:
    // The compressed stream's own checksum is not computed: each IDAT chunk's CRC, which libspng
    // checks, covers every byte of it already, and the sum cost a tenth of a screenshot's decoding.
    explicit PNGRows(std::FILE* file)
        : stream_{file, 0}, context_(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32), spng_ctx_free) {}

    int open(const ReadLimits& limits);
    bool interlaced() const { return interlaced_; }
    int startRows();
    int decodeWhole(Image* image);
    int readRows(std::uint8_t* rows, std::size_t stride, int count) override;
    int finish() override;

  private:
    int decodeRow(std::uint8_t* row);
    // Bytes libspng hands over for a pixel in format_.
    std::size_t decodedPixelBytes() const;
    // The picture's levels out of count decoded pixels.
    void takeLevels(const std::uint8_t* decoded, std::uint8_t* levels, std::size_t count) const;

    PNGStream stream_;
    PNGContext context_;
    int format_ = SPNG_FMT_G8;
    bool throughBuffer_ = false;         // decoded pixels are not the picture's levels as they are
    std::vector<std::uint8_t> decoded_;  // one decoded row, when it goes through a buffer
    bool ended_ = false;                 // libspng has handed over the last row
    bool interlaced_ = false;
};

int PNGRows::open(const ReadLimits& limits) {
    if (!context_) return kOutOfMemory;
    errno = 0;
    int error = spng_set_image_limits(context_.get(), INT32_MAX, INT32_MAX);
    if (error == 0)
        error = spng_set_chunk_limits(context_.get(), kPNGChunkLimit, kPNGChunkCacheLimit);
    if (error == 0) error = spng_set_png_stream(context_.get(), readPNGbytes, &stream_);
    spng_ihdr header{};
    if (error == 0) error = spng_get_ihdr(context_.get(), &header);
    if (error != 0) return refusal(error);
    const bool grey = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    if (!withinCeiling(header.width, header.height, limits)) return kBadHeader;
    const bool colour = !grey && header.color_type != SPNG_COLOR_TYPE_INDEXED;
    std::int64_t bytes = 0;
    // The limits keep both sides within 2^31 - 1; the image model keeps the picture within its own.
    if (!checkedSize(header.width, header.height, &bytes) ||
        !checkedSize(bytes, colour ? 3 : 1, &bytes)) {
        return kBadHeader;
    }
    width_ = static_cast<int>(header.width);
    height_ = static_cast<int>(header.height);
    depth_ = colour ? 24 : 8;
    const bool wide = header.bit_depth == 16;
    throughBuffer_ = wide || (!colour && header.color_type != SPNG_COLOR_TYPE_GRAYSCALE);
    format_ = wide ? SPNG_FMT_RGBA16 : colour || throughBuffer_ ? SPNG_FMT_RGB8 : SPNG_FMT_G8;
    interlaced_ = header.interlace_method != SPNG_INTERLACE_NONE;
    return kReadOk;
}

std::size_t PNGRows::decodedPixelBytes() const {
    return format_ == SPNG_FMT_RGBA16 ? 8 : format_ == SPNG_FMT_RGB8 ? 3 : 1;
}

void PNGRows::takeLevels(const std::uint8_t* decoded, std::uint8_t* levels,
                         std::size_t count) const {
    const std::size_t channels = depth_ == 24 ? 3 : 1;
    if (format_ != SPNG_FMT_RGBA16) {
        for (std::size_t i = 0; i < count; ++i) levels[i] = decoded[3 * i];
        return;
    }
    // libspng hands over 16-bit samples in the machine's byte order.
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t c = 0; c < channels; ++c) {
            std::uint16_t sample = 0;
            std::memcpy(&sample, decoded + 8 * i + 2 * c, sizeof sample);
            levels[channels * i + c] = scaledLevel(sample, 65535);
        }
    }
}

int PNGRows::startRows() {
    errno = 0;
    if (throughBuffer_) decoded_.resize(decodedPixelBytes() * static_cast<std::size_t>(width_));
    const int error =
        spng_decode_image(context_.get(), nullptr, 0, format_, SPNG_DECODE_PROGRESSIVE);
    return error == 0 ? kReadOk : refusal(error);
}

// An interlaced picture comes in seven passes over the whole of it, so it is decoded whole.
int PNGRows::decodeWhole(Image* image) {
    const std::size_t pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    std::int64_t bytes = 0;
    if (!checkedSize(static_cast<std::int64_t>(pixels),
                     throughBuffer_ ? decodedPixelBytes() : depth_ / 8, &bytes)) {
        return kBadHeader;
    }
    std::vector<std::uint8_t> decoded;
    if (throughBuffer_) decoded.resize(static_cast<std::size_t>(bytes));
    errno = 0;
    const int error =
        spng_decode_image(context_.get(), throughBuffer_ ? decoded.data() : image->data,
                          static_cast<std::size_t>(bytes), format_, 0);
    if (error != 0) return refusal(error);
    if (throughBuffer_) takeLevels(decoded.data(), image->data, pixels);
    ended_ = true;
    return finish();
}

int PNGRows::decodeRow(std::uint8_t* row) {
    if (ended_) return kDecoderRefused;
    const std::size_t width = static_cast<std::size_t>(width_);
    errno = 0;
    const int error = spng_decode_row(context_.get(), throughBuffer_ ? decoded_.data() : row,
                                      width * (throughBuffer_ ? decodedPixelBytes() : depth_ / 8));
    if (error == SPNG_EOI) {
        ended_ = true;
    } else if (error != 0) {
        return refusal(error);
    }
    if (throughBuffer_) takeLevels(decoded_.data(), row, width);
    return kReadOk;
}

int PNGRows::readRows(std::uint8_t* rows, std::size_t stride, int count) {
    for (int row = 0; row < count; ++row) {
        const int result = decodeRow(rows + static_cast<std::size_t>(row) * stride);
        if (result != kReadOk) return result;
    }
    return kReadOk;
}

// The chunks after the pixels are read as well, so that a file cut after them, or one whose last
// checksum is wrong, is refused like any broken file.
int PNGRows::finish() {
    if (!ended_) return kDecoderRefused;
    errno = 0;
    const int error = spng_decode_chunks(context_.get());
    return error == 0 ? kReadOk : refusal(error);
}

// An interlaced picture, read whole and then handed over a band at a time.
int readInterlaced(PNGRows* png, RowSourcePtr* out) {
    Image* raw = nullptr;
    int result = newImage(png->width(), png->height(), png->depth(), &raw);
    ImagePtr image(raw);
    if (result == kReadOk) result = png->decodeWhole(image.get());
    if (result != kReadOk) return result;
    *out = rowsOfImage(std::move(image));
    return *out ? kReadOk : kOutOfMemory;
}

}  // namespace

int openPNGrows(std::FILE* stream, const ReadLimits& limits, RowSourcePtr* out) {
    std::unique_ptr<PNGRows> rows(new (std::nothrow) PNGRows(stream));
    if (!rows) return kOutOfMemory;
    int result = rows->open(limits);
    if (result == kReadOk && rows->interlaced()) return readInterlaced(rows.get(), out);
    if (result == kReadOk) result = rows->startRows();
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
