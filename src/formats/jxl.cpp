// JPEG XL files, bare code streams or in their container, decoded by libjxl.
#include <jxl/decode.h>

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

// libjxl is handed the file whole, which is read into memory first: at most this many bytes a
// pixel of the ceiling, more than any JPEG XL picture takes, lossless ones included.
constexpr std::int64_t kJXLBytesPerPixel = 8;
// The first picture may be blended from many layers (frames of no duration), each decoded whole:
// their pixels together may come to this many pictures at the ceiling, as for JPEG's scans.
constexpr std::int64_t kJXLCeilingPasses = 32;

// The functions of libjxl read here.
struct JXLLibrary {
    decltype(&::JxlDecoderCreate) JxlDecoderCreate;
    decltype(&::JxlDecoderDestroy) JxlDecoderDestroy;
    decltype(&::JxlDecoderSubscribeEvents) JxlDecoderSubscribeEvents;
    decltype(&::JxlDecoderSetCoalescing) JxlDecoderSetCoalescing;
    decltype(&::JxlDecoderSetKeepOrientation) JxlDecoderSetKeepOrientation;
    decltype(&::JxlDecoderSetInput) JxlDecoderSetInput;
    decltype(&::JxlDecoderCloseInput) JxlDecoderCloseInput;
    decltype(&::JxlDecoderProcessInput) JxlDecoderProcessInput;
    decltype(&::JxlDecoderGetBasicInfo) JxlDecoderGetBasicInfo;
    decltype(&::JxlDecoderGetFrameHeader) JxlDecoderGetFrameHeader;
    decltype(&::JxlDecoderImageOutBufferSize) JxlDecoderImageOutBufferSize;
    decltype(&::JxlDecoderSetImageOutBuffer) JxlDecoderSetImageOutBuffer;
};

bool takeJXL(const OpenedLibrary& library, JXLLibrary* functions) {
    return LIKENESS_TAKE(library, *functions, JxlDecoderCreate) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderDestroy) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderSubscribeEvents) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderSetCoalescing) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderSetKeepOrientation) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderSetInput) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderCloseInput) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderProcessInput) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderGetBasicInfo) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderGetFrameHeader) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderImageOutBufferSize) &&
           LIKENESS_TAKE(library, *functions, JxlDecoderSetImageOutBuffer);
}

using JXLDecoder = std::unique_ptr<JxlDecoder, decltype(&::JxlDecoderDestroy)>;

// The first picture of the file (of an animation, its first frame, blended from the layers
// before it, as djxl shows it), as libjxl decodes it with its defaults in the colour space the
// file was encoded from: 8 bits a sample for a picture of 8 bits or fewer, 16 for a deeper one
// (then scaled to 8 bits as every format is), as djxl writes them to PNG files. A grey picture
// becomes an 8-bit one, a colour picture a 24-bit one; alpha and the orientation field are
// ignored. libjxl hands over parts of rows in any order, so the picture is decoded whole first.
class JXLRows final : public RowSource {
  public:
    explicit JXLRows(const JXLLibrary& jxl)
        : jxl_(jxl), decoder_(jxl.JxlDecoderCreate(nullptr), jxl.JxlDecoderDestroy) {}

    int open(PeekedStream* stream, const ReadLimits& limits);
    int readRows(std::uint8_t* rows, std::size_t stride, int count) override;
    int finish() override { return kReadOk; }

  private:
    int checkWork(const ReadLimits& limits);
    int decode();
    int takeBasicInfo(const JxlBasicInfo& info, const ReadLimits& limits);

    const JXLLibrary& jxl_;
    JXLDecoder decoder_;
    std::vector<std::uint8_t> file_;
    std::vector<std::uint8_t> samples_;  // the picture, channels a pixel of one or two bytes
    JxlPixelFormat format_{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    int next_ = 0;  // the next row to hand over
};

int JXLRows::takeBasicInfo(const JxlBasicInfo& info, const ReadLimits& limits) {
    std::int64_t bytes = 0;
    const bool grey = info.num_color_channels == 1;
    if (!withinCeiling(info.xsize, info.ysize, limits) ||
        !checkedSize(info.xsize, info.ysize, &bytes) || !checkedSize(bytes, 6, &bytes)) {
        return kBadHeader;
    }
    width_ = static_cast<int>(info.xsize);
    height_ = static_cast<int>(info.ysize);
    depth_ = grey ? 8 : 24;
    format_.num_channels = grey ? 1 : 3;
    format_.data_type = info.bits_per_sample > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
    return kReadOk;
}

// A first pass over the frame headers, which libjxl reads without decoding the frames: the sides
// against the ceiling, and the layers up to the first picture against the work budget.
int JXLRows::checkWork(const ReadLimits& limits) {
    const JXLDecoder headers(jxl_.JxlDecoderCreate(nullptr), jxl_.JxlDecoderDestroy);
    if (!headers) return kOutOfMemory;
    JxlDecoder* decoder = headers.get();
    if (jxl_.JxlDecoderSubscribeEvents(decoder, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME) !=
            JXL_DEC_SUCCESS ||
        jxl_.JxlDecoderSetCoalescing(decoder, JXL_FALSE) != JXL_DEC_SUCCESS ||
        jxl_.JxlDecoderSetInput(decoder, file_.data(), file_.size()) != JXL_DEC_SUCCESS) {
        return kDecoderRefused;
    }
    jxl_.JxlDecoderCloseInput(decoder);
    const std::int64_t budget = kJXLCeilingPasses * ceilingInForce(limits);
    std::int64_t work = 0;
    for (;;) {
        const JxlDecoderStatus status = jxl_.JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info{};
            if (jxl_.JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS)
                return kDecoderRefused;
            const int result = takeBasicInfo(info, limits);
            if (result != kReadOk) return result;
        } else if (status == JXL_DEC_FRAME) {
            JxlFrameHeader frame{};
            if (jxl_.JxlDecoderGetFrameHeader(decoder, &frame) != JXL_DEC_SUCCESS)
                return kDecoderRefused;
            work += std::int64_t{frame.layer_info.xsize} * frame.layer_info.ysize;
            if (work > budget) return kDecoderRefused;
            if (frame.duration > 0 || frame.is_last) return kReadOk;
        } else {
            // An error, or a file that ends before its first picture does.
            return kDecoderRefused;
        }
    }
}

int JXLRows::decode() {
    JxlDecoder* decoder = decoder_.get();
    if (jxl_.JxlDecoderSubscribeEvents(decoder, JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        jxl_.JxlDecoderSetKeepOrientation(decoder, JXL_TRUE) != JXL_DEC_SUCCESS ||
        jxl_.JxlDecoderSetInput(decoder, file_.data(), file_.size()) != JXL_DEC_SUCCESS) {
        return kDecoderRefused;
    }
    jxl_.JxlDecoderCloseInput(decoder);
    for (;;) {
        const JxlDecoderStatus status = jxl_.JxlDecoderProcessInput(decoder);
        if (status == JXL_DEC_FULL_IMAGE) return kReadOk;
        if (status != JXL_DEC_NEED_IMAGE_OUT_BUFFER) return kDecoderRefused;
        std::size_t size = 0;
        const std::size_t expected = std::size_t{1} * static_cast<std::size_t>(width_) *
                                     static_cast<std::size_t>(height_) * format_.num_channels *
                                     (format_.data_type == JXL_TYPE_UINT16 ? 2 : 1);
        if (jxl_.JxlDecoderImageOutBufferSize(decoder, &format_, &size) != JXL_DEC_SUCCESS ||
            size != expected) {
            return kDecoderRefused;
        }
        samples_.resize(size);
        if (jxl_.JxlDecoderSetImageOutBuffer(decoder, &format_, samples_.data(), size) !=
            JXL_DEC_SUCCESS) {
            return kDecoderRefused;
        }
    }
}

int JXLRows::open(PeekedStream* stream, const ReadLimits& limits) {
    if (!decoder_) return kOutOfMemory;
    int result = readWholeStream(stream, kJXLBytesPerPixel * ceilingInForce(limits), &file_);
    if (result == kReadOk) result = checkWork(limits);
    if (result == kReadOk) result = decode();
    return result;
}

int JXLRows::readRows(std::uint8_t* rows, std::size_t stride, int count) {
    if (count > height_ - next_) return kDecoderRefused;
    const std::size_t samples = static_cast<std::size_t>(width_) * format_.num_channels;
    const bool wide = format_.data_type == JXL_TYPE_UINT16;
    for (int row = 0; row < count; ++row, ++next_) {
        const std::uint8_t* from =
            samples_.data() + static_cast<std::size_t>(next_) * samples * (wide ? 2 : 1);
        std::uint8_t* out = rows + static_cast<std::size_t>(row) * stride;
        if (!wide) {
            std::memcpy(out, from, samples);
            continue;
        }
        // Samples of 16 bits come in the machine's byte order.
        for (std::size_t i = 0; i < samples; ++i) {
            std::uint16_t sample = 0;
            std::memcpy(&sample, from + 2 * i, sizeof sample);
            out[i] = scaledLevel(sample, 65535);
        }
    }
    return kReadOk;
}

}  // namespace

int openJXLrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out) {
    // Without libjxl its files are refused, as by a build without it.
    const JXLLibrary* jxl = openedFunctions(LIKENESS_JXL_LIBRARY, takeJXL);
    if (jxl == nullptr) return kUnsupportedDepth;
    std::unique_ptr<JXLRows> rows(new (std::nothrow) JXLRows(*jxl));
    if (!rows) return kOutOfMemory;
    const int result = rows->open(stream, limits);
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
