// AVIF files, decoded by libavif (with whichever AV1 decoder it was built with) a frame at a time.
#include <avif/avif.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/opened_library.h"
#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// libavif reads a file from memory, as its boxes may point anywhere in it: at most this many
// bytes a pixel of the ceiling, more than any AV1 picture takes, lossless ones included.
constexpr std::int64_t kAVIFBytesPerPixel = 8;

// The functions of libavif read here.
struct AVIFLibrary {
    decltype(&::avifDecoderCreate) avifDecoderCreate;
    decltype(&::avifDecoderDestroy) avifDecoderDestroy;
    decltype(&::avifDecoderSetIOMemory) avifDecoderSetIOMemory;
    decltype(&::avifDecoderParse) avifDecoderParse;
    decltype(&::avifDecoderNextImage) avifDecoderNextImage;
    decltype(&::avifRGBImageSetDefaults) avifRGBImageSetDefaults;
    decltype(&::avifRGBFormatChannelCount) avifRGBFormatChannelCount;
    decltype(&::avifRGBImagePixelSize) avifRGBImagePixelSize;
    decltype(&::avifImageYUVToRGB) avifImageYUVToRGB;
};

bool takeAVIF(const OpenedLibrary& library, AVIFLibrary* functions) {
    return LIKENESS_TAKE(library, *functions, avifDecoderCreate) &&
           LIKENESS_TAKE(library, *functions, avifDecoderDestroy) &&
           LIKENESS_TAKE(library, *functions, avifDecoderSetIOMemory) &&
           LIKENESS_TAKE(library, *functions, avifDecoderParse) &&
           LIKENESS_TAKE(library, *functions, avifDecoderNextImage) &&
           LIKENESS_TAKE(library, *functions, avifRGBImageSetDefaults) &&
           LIKENESS_TAKE(library, *functions, avifRGBFormatChannelCount) &&
           LIKENESS_TAKE(library, *functions, avifRGBImagePixelSize) &&
           LIKENESS_TAKE(library, *functions, avifImageYUVToRGB);
}

using AVIFDecoder = std::unique_ptr<avifDecoder, decltype(&::avifDecoderDestroy)>;

int refusal(avifResult result) {
    switch (result) {
        case AVIF_RESULT_OUT_OF_MEMORY:
            return kOutOfMemory;
        case AVIF_RESULT_NOT_IMPLEMENTED:
        case AVIF_RESULT_NO_CODEC_AVAILABLE:
        case AVIF_RESULT_UNSUPPORTED_DEPTH:
            return kUnsupportedDepth;
        default:
            return kDecoderRefused;
    }
}

// The first frame of the file (of a sequence, the first; of a progressive picture, its best layer,
// as avifdec decodes it), converted to red, green and blue as libavif converts it for avifdec's
// PNG files: 8 bits a sample for an 8-bit picture, 16 for a deeper one (10 or 12 bits), through
// red, green, blue and alpha where the picture has alpha (libavif converts each layout its own
// way, and they round apart). A monochrome picture (4:0:0) has equal red, green and blue, of
// which red is kept. Alpha is ignored. libavif decodes a whole frame at once, so the
// frame is held whole and its rows handed over from it.
class AVIFRows final : public RowSource {
  public:
    explicit AVIFRows(const AVIFLibrary& avif)
        : avif_(avif), decoder_(avif.avifDecoderCreate(), avif.avifDecoderDestroy) {}

    int open(PeekedStream* stream, const ReadLimits& limits);
    int readRows(std::uint8_t* rows, std::size_t stride, int count) override;
    int finish() override { return kReadOk; }

  private:
    int parse(const ReadLimits& limits);
    int convert();

    const AVIFLibrary& avif_;
    AVIFDecoder decoder_;
    std::vector<std::uint8_t> file_;
    std::vector<std::uint8_t> rgb_;  // the frame, channels_ samples a pixel of one or two bytes
    std::uint32_t channels_ = 3;
    std::uint32_t rowBytes_ = 0;
    int bits_ = 8;
    int next_ = 0;  // the next row to hand over
};

int AVIFRows::parse(const ReadLimits& limits) {
    avifDecoder* decoder = decoder_.get();
    decoder->maxThreads = 1;
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    // The boxes' sides are checked against the ceiling here, so that a picture past it is told
    // from a broken file, which libavif's limit would call it. libavif itself takes no picture
    // of more than 16384 x 16384 pixels.
    decoder->imageSizeLimit = AVIF_DEFAULT_IMAGE_SIZE_LIMIT;
    avifResult result = avif_.avifDecoderSetIOMemory(decoder, file_.data(), file_.size());
    if (result == AVIF_RESULT_OK) result = avif_.avifDecoderParse(decoder);
    if (result != AVIF_RESULT_OK) return refusal(result);
    const avifImage* image = decoder->image;
    std::int64_t bytes = 0;
    if (!withinCeiling(image->width, image->height, limits) ||
        !checkedSize(image->width, image->height, &bytes) || !checkedSize(bytes, 6, &bytes)) {
        return kBadHeader;
    }
    return kReadOk;
}

int AVIFRows::convert() {
    const avifImage* image = decoder_->image;
    avifRGBImage rgb;
    avif_.avifRGBImageSetDefaults(&rgb, image);
    rgb.depth = image->depth > 8 ? 16 : 8;
    if (image->alphaPlane == nullptr) rgb.format = AVIF_RGB_FORMAT_RGB;
    bits_ = static_cast<int>(rgb.depth);
    channels_ = avif_.avifRGBFormatChannelCount(rgb.format);
    rowBytes_ = rgb.width * avif_.avifRGBImagePixelSize(&rgb);
    rgb_.resize(static_cast<std::size_t>(rowBytes_) * rgb.height);
    rgb.pixels = rgb_.data();
    rgb.rowBytes = rowBytes_;
    const avifResult result = avif_.avifImageYUVToRGB(image, &rgb);
    if (result != AVIF_RESULT_OK) return refusal(result);
    width_ = static_cast<int>(image->width);
    height_ = static_cast<int>(image->height);
    depth_ = image->yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 8 : 24;
    return kReadOk;
}

int AVIFRows::open(PeekedStream* stream, const ReadLimits& limits) {
    if (!decoder_) return kOutOfMemory;
    int result = readWholeStream(stream, kAVIFBytesPerPixel * ceilingInForce(limits), &file_);
    if (result == kReadOk) result = parse(limits);
    if (result != kReadOk) return result;
    // The AV1 decoder is held to the ceiling, for a frame whose own sides are larger than the
    // file's boxes say, or a grid of many.
    decoder_->imageSizeLimit = static_cast<std::uint32_t>(
        std::min<std::int64_t>(ceilingInForce(limits), AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
    const avifResult decoded = avif_.avifDecoderNextImage(decoder_.get());
    if (decoded != AVIF_RESULT_OK) return refusal(decoded);
    // The frame's own sides may differ from what the boxes said.
    if (!withinCeiling(decoder_->image->width, decoder_->image->height, limits)) return kBadHeader;
    return convert();
}

int AVIFRows::readRows(std::uint8_t* rows, std::size_t stride, int count) {
    if (count > height_ - next_) return kDecoderRefused;
    const auto width = static_cast<std::size_t>(width_);
    const std::size_t kept = depth_ == 8 ? 1 : 3;  // samples kept of each pixel
    const std::size_t bytes = bits_ > 8 ? 2 : 1;
    const auto maximum = static_cast<std::uint32_t>((1 << bits_) - 1);
    for (int row = 0; row < count; ++row, ++next_) {
        const std::uint8_t* pixel = rgb_.data() + static_cast<std::size_t>(next_) * rowBytes_;
        std::uint8_t* out = rows + static_cast<std::size_t>(row) * stride;
        for (std::size_t x = 0; x < width; ++x, pixel += channels_ * bytes) {
            for (std::size_t c = 0; c < kept; ++c) {
                // Samples of 16 bits come in the machine's byte order.
                std::uint16_t sample = pixel[c];
                if (bytes == 2) std::memcpy(&sample, pixel + 2 * c, sizeof sample);
                out[kept * x + c] =
                    bytes == 2 ? scaledLevel(sample, maximum) : static_cast<std::uint8_t>(sample);
            }
        }
    }
    return kReadOk;
}

}  // namespace

int openAVIFrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out) {
    // Without libavif its files are refused, as by a build without it.
    const AVIFLibrary* avif = openedFunctions(LIKENESS_AVIF_LIBRARY, takeAVIF);
    if (avif == nullptr) return kUnsupportedDepth;
    std::unique_ptr<AVIFRows> rows(new (std::nothrow) AVIFRows(*avif));
    if (!rows) return kOutOfMemory;
    const int result = rows->open(stream, limits);
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
