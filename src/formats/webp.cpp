// WebP files, lossy and lossless, decoded by libwebp's incremental decoder as the file comes in;
// of an animation, the first frame, through libwebp's animation decoder.
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// The file is handed to libwebp in chunks this large, never held whole by the reader. libwebp's
// incremental lossless decoder goes back to the last whole row it decoded when a chunk ends, so
// small chunks cost much: 64 KiB chunks took a 4096 x 4096 pair 0.96 s, 1 MiB chunks 0.27 s.
constexpr std::size_t kWebPChunk = std::size_t{1} << 20;
// The picture's sides lie in the first chunk of the file (its "VP8 ", "VP8L" or "VP8X" header);
// a file that has not told them within this many bytes is refused.
constexpr std::size_t kWebPHeaderLimit = std::size_t{64} << 10;

// An animation is read whole into memory, at most this many bytes a pixel of the ceiling.
constexpr std::int64_t kWebPAnimationBytesPerPixel = 8;

using WebPDecoder = std::unique_ptr<WebPIDecoder, decltype(&WebPIDelete)>;
using WebPAnimation = std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)>;

int refusal(VP8StatusCode status) {
    if (status == VP8_STATUS_OUT_OF_MEMORY) return kOutOfMemory;
    return status == VP8_STATUS_UNSUPPORTED_FEATURE ? kUnsupportedDepth : kDecoderRefused;
}

// Every WebP picture is colour (the lossy ones Y'CbCr, the lossless ones ARGB): it is decoded to
// red, green and blue with libwebp's defaults, the pixels dwebp writes, and alpha is dropped.
// libwebp decodes into a buffer of the whole picture, and hands rows over as they are done.
class WebPRows final : public RowSource {
  public:
    explicit WebPRows(PeekedStream* stream)
        : stream_(stream),
          decoder_(nullptr, WebPIDelete),
          animation_(nullptr, WebPAnimDecoderDelete) {
        depth_ = 24;
    }

    int open(const ReadLimits& limits);
    int readRows(std::uint8_t* rows, std::size_t stride, int count) override;
    int finish() override;

  private:
    int readFeatures(const ReadLimits& limits, WebPBitstreamFeatures* features);
    // Feeds the decoder until it has decoded rows rows, or the whole picture: kReadOk when it has
    // those rows, a refusal when the file ends first.
    int decodeThrough(int rows);
    int append(const std::uint8_t* bytes, std::size_t length);
    int openAnimation(const ReadLimits& limits);

    PeekedStream* stream_;
    WebPDecoder decoder_;
    // Or an animation: the file, its decoder and the first frame's canvas, four bytes a pixel.
    WebPAnimation animation_;
    std::vector<std::uint8_t> file_;
    const std::uint8_t* canvas_ = nullptr;
    std::vector<std::uint8_t> header_;  // the file's first bytes, read to learn its features
    std::vector<std::uint8_t> chunk_;
    VP8StatusCode status_ = VP8_STATUS_SUSPENDED;
    std::uint64_t fileEnd_ = 0;  // where the file's RIFF header says it ends
    std::uint64_t read_ = 0;     // bytes read from the file
    int decoded_ = 0;            // rows decoded
    int next_ = 0;               // the next row to hand over
};

// A file with an extended header ("VP8X") tells its canvas before its picture: one past the
// ceiling is refused as soon as it is told.
int WebPRows::readFeatures(const ReadLimits& limits, WebPBitstreamFeatures* features) {
    header_.resize(kWebPHeaderLimit);
    std::size_t held = 0;
    for (;;) {
        const std::size_t read = stream_->read(header_.data() + held, header_.size() - held);
        held += read;
        read_ += read;
        const VP8StatusCode status = WebPGetFeatures(header_.data(), held, features);
        if (status != VP8_STATUS_NOT_ENOUGH_DATA) {
            header_.resize(held);
            return status == VP8_STATUS_OK ? kReadOk : refusal(status);
        }
        if (!withinCeiling(features->width, features->height, limits)) return kBadHeader;
        if (read == 0 || held == header_.size()) return kDecoderRefused;
    }
}

int WebPRows::open(const ReadLimits& limits) {
    WebPBitstreamFeatures features{};
    int result = readFeatures(limits, &features);
    if (result != kReadOk) return result;
    std::int64_t bytes = 0;
    if (!withinCeiling(features.width, features.height, limits) ||
        !checkedSize(features.width, features.height, &bytes) || !checkedSize(bytes, 3, &bytes)) {
        return kBadHeader;
    }
    width_ = features.width;
    height_ = features.height;
    // The incremental decoder reads still pictures only.
    if (features.has_animation) return openAnimation(limits);
    // WebPGetFeatures has seen the RIFF header: its size field follows "RIFF".
    fileEnd_ = 8 + (std::uint64_t{header_[4]} | std::uint64_t{header_[5]} << 8 |
                    std::uint64_t{header_[6]} << 16 | std::uint64_t{header_[7]} << 24);
    // Without a buffer of the caller's, the decoder makes its own, of red, green and blue.
    decoder_.reset(WebPINewDecoder(nullptr));
    if (!decoder_) return kOutOfMemory;
    chunk_.resize(kWebPChunk);
    result = append(header_.data(), header_.size());
    header_ = {};
    return result;
}

// The first frame as libwebp's animation decoder composes it on the canvas: from a canvas of no
// colour, so where the frame does not cover the canvas it is black.
int WebPRows::openAnimation(const ReadLimits& limits) {
    file_ = std::move(header_);
    int result =
        readWholeStream(stream_, kWebPAnimationBytesPerPixel * ceilingInForce(limits), &file_);
    if (result != kReadOk) return result;
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return kDecoderRefused;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{file_.data(), file_.size()};
    animation_.reset(WebPAnimDecoderNew(&data, &options));
    if (!animation_) return kDecoderRefused;
    WebPAnimInfo info{};
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetInfo(animation_.get(), &info) ||
        static_cast<int>(info.canvas_width) != width_ ||
        static_cast<int>(info.canvas_height) != height_ ||
        !WebPAnimDecoderGetNext(animation_.get(), &canvas, &timestamp)) {
        return kDecoderRefused;
    }
    canvas_ = canvas;
    return kReadOk;
}

int WebPRows::append(const std::uint8_t* bytes, std::size_t length) {
    status_ = WebPIAppend(decoder_.get(), bytes, length);
    if (status_ != VP8_STATUS_OK && status_ != VP8_STATUS_SUSPENDED) return refusal(status_);
    int width = 0;
    int height = 0;
    int stride = 0;
    int last = 0;
    if (WebPIDecGetRGB(decoder_.get(), &last, &width, &height, &stride) != nullptr) decoded_ = last;
    return kReadOk;
}

int WebPRows::decodeThrough(int rows) {
    while (decoded_ < rows && status_ != VP8_STATUS_OK) {
        const std::size_t read = stream_->read(chunk_.data(), chunk_.size());
        read_ += read;
        // The file ended before the picture did.
        if (read == 0) return kDecoderRefused;
        const int result = append(chunk_.data(), read);
        if (result != kReadOk) return result;
    }
    return decoded_ >= std::min(rows, height_) ? kReadOk : kDecoderRefused;
}

// The picture is whole only when libwebp says so, and the file only when it holds as many bytes
// as its header says: libwebp's incremental decoder would take a lossy picture whose last bytes
// are cut, which its whole-file decoder (and dwebp) refuses.
int WebPRows::finish() {
    if (animation_) return kReadOk;
    int result = decodeThrough(height_ + 1);
    while (result == kReadOk && read_ < fileEnd_) {
        const std::size_t read = stream_->read(
            chunk_.data(),
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk_.size(), fileEnd_ - read_)));
        read_ += read;
        if (read == 0) result = kDecoderRefused;
    }
    return result;
}

int WebPRows::readRows(std::uint8_t* rows, std::size_t stride, int count) {
    if (count > height_ - next_) return kDecoderRefused;
    const auto width = static_cast<std::size_t>(width_);
    if (animation_) {
        for (int row = 0; row < count; ++row, ++next_) {
            const std::uint8_t* pixel = canvas_ + 4 * width * static_cast<std::size_t>(next_);
            std::uint8_t* out = rows + static_cast<std::size_t>(row) * stride;
            for (std::size_t x = 0; x < width; ++x) std::memcpy(out + 3 * x, pixel + 4 * x, 3);
        }
        return kReadOk;
    }
    const int result = decodeThrough(next_ + count);
    if (result != kReadOk) return result;
    int decodedWidth = 0;
    int decodedHeight = 0;
    int pitch = 0;
    int last = 0;
    const std::uint8_t* decoded =
        WebPIDecGetRGB(decoder_.get(), &last, &decodedWidth, &decodedHeight, &pitch);
    if (decoded == nullptr) return kDecoderRefused;
    const std::size_t bytes = 3 * width;
    for (int row = 0; row < count; ++row, ++next_) {
        std::memcpy(rows + static_cast<std::size_t>(row) * stride,
                    decoded + static_cast<std::size_t>(next_) * static_cast<std::size_t>(pitch),
                    bytes);
    }
    return kReadOk;
}

}  // namespace

int openWebProws(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out) {
    std::unique_ptr<WebPRows> rows(new (std::nothrow) WebPRows(stream));
    if (!rows) return kOutOfMemory;
    const int result = rows->open(limits);
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
