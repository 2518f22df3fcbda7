// TIFF files, decoded by libtiff through its RGBA interface a strip (or a row of tiles) at a time.
#include <sys/types.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// A stream that cannot be moved about (a pipe) is read into memory first, as libtiff reads a file
// wherever its directory points; at most this many bytes a pixel of the ceiling, as many as an
// uncompressed picture of four 16-bit samples takes.
constexpr std::int64_t kTIFFBytesPerPixel = 8;

// The file as libtiff reads it: where it lies in a stream that can be moved about, or in memory.
struct TIFFInput {
    std::FILE* file = nullptr;
    off_t start = 0;  // where the file starts in the stream
    bool inMemory = false;
    std::vector<std::uint8_t> memory;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    bool failed = false;  // libtiff reported an error
};

TIFFInput* inputOf(thandle_t handle) {
    return static_cast<TIFFInput*>(handle);
}

tmsize_t readTIFF(thandle_t handle, void* out, tmsize_t length) {
    TIFFInput* input = inputOf(handle);
    if (length < 0 || input->position > input->size) return 0;
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(length), input->size - input->position));
    std::size_t read = wanted;
    if (input->inMemory) {
        std::copy_n(input->memory.data() + input->position, wanted,
                    static_cast<std::uint8_t*>(out));
    } else {
        read = std::fread(out, 1, wanted, input->file);
    }
    input->position += read;
    return static_cast<tmsize_t>(read);
}

tmsize_t writeTIFF(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekTIFF(thandle_t handle, toff_t offset, int whence) {
    TIFFInput* input = inputOf(handle);
    const std::uint64_t base = whence == SEEK_CUR   ? input->position
                               : whence == SEEK_END ? input->size
                                                    : 0;
    const std::uint64_t target = base + offset;
    // Past the end or beyond what off_t holds: libtiff is told the seek failed.
    if (target < base || target > input->size) return static_cast<toff_t>(-1);
    if (!input->inMemory &&
        fseeko(input->file, input->start + static_cast<off_t>(target), SEEK_SET) != 0) {
        return static_cast<toff_t>(-1);
    }
    input->position = target;
    return target;
}

int closeTIFF(thandle_t) {
    return 0;
}
toff_t sizeTIFF(thandle_t handle) {
    return inputOf(handle)->size;
}
int mapTIFF(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapTIFF(thandle_t, void*, toff_t) {}

// An error is a refusal, which the calls that meet it also return; warnings (unknown tags, odd
// but readable fields) are dropped. Either way libtiff prints nothing.
int recordError(TIFF*, void* user, const char*, const char*, va_list) {
    static_cast<TIFFInput*>(user)->failed = true;
    return 1;
}
int dropWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Sets up input for the stream: in place when the stream can be moved about, else read whole into
// memory, at most limit bytes.
int prepareInput(PeekedStream* stream, std::int64_t limit, TIFFInput* input) {
    input->file = stream->file();
    const off_t at = ftello(input->file);
    if (at >= 0 && fseeko(input->file, 0, SEEK_END) == 0) {
        const off_t end = ftello(input->file);
        input->start = at - static_cast<off_t>(stream->peeked());
        input->size = static_cast<std::uint64_t>(end - input->start);
        return fseeko(input->file, input->start, SEEK_SET) == 0 ? kReadOk : kCannotOpen;
    }
    input->inMemory = true;
    const int result = readWholeStream(stream, limit, &input->memory);
    input->size = input->memory.size();
    return result;
}

using TIFFHandle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// Grey pictures (one sample a pixel, black or white as 0, of 1 to 16 bits) become 8-bit pictures,
// every other kind the RGBA interface reads (colour, palette, YCbCr, CMYK) 24-bit ones, as libtiff
// renders them; alpha is ignored. The rows are decoded a strip, or a row of tiles, at a time, and
// as they are stored: the orientation field is not applied. The RGBA interface keeps the high
// byte of a 16-bit grey sample, where every format scales it, so 16-bit grey pictures are read
// a row at a time as libtiff decodes their samples (from strips; tiled ones are not read).
class TIFFRows final : public RowSource {
  public:
    TIFFRows() : tiff_(nullptr, TIFFClose) {}
    ~TIFFRows() override {
        if (begun_) TIFFRGBAImageEnd(&image_);
    }
    TIFFRows(const TIFFRows&) = delete;
    TIFFRows& operator=(const TIFFRows&) = delete;

    int open(PeekedStream* stream, const ReadLimits& limits);
    int readRows(std::uint8_t* rows, std::size_t stride, int count) override;
    int finish() override { return input_.failed ? kDecoderRefused : kReadOk; }

  private:
    int openTIFF(std::int64_t ceiling);
    int checkPicture(const ReadLimits& limits);
    int startRGBA();
    int decodeBand();
    int readWideGrey(std::uint8_t* row);

    TIFFInput input_;
    TIFFHandle tiff_;
    TIFFRGBAImage image_{};
    bool begun_ = false;
    // A 16-bit grey picture: its samples a pixel, whether 0 is white, and one decoded row.
    bool wideGrey_ = false;
    std::uint16_t samples_ = 1;
    bool whiteIsZero_ = false;
    std::vector<std::uint16_t> row_;
    std::vector<std::uint32_t> band_;  // decoded rows, red in the lowest byte of each pixel
    int bandRows_ = 0;                 // rows a band holds: a strip's, or a row of tiles'
    int bandStart_ = 0;                // the picture's row that the band's first row is
    int bandHeld_ = 0;                 // rows of the band decoded
    int next_ = 0;                     // the next row to hand over
};

int TIFFRows::openTIFF(std::int64_t ceiling) {
    using Options = std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)>;
    const Options options(TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
    if (!options) return kOutOfMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), recordError, &input_);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropWarning, &input_);
    // No one allocation within libtiff may be larger than the largest picture the ceiling allows.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kTIFFBytesPerPixel * ceiling);
    // "m": read through the procedures, never mapped.
    tiff_.reset(TIFFClientOpenExt("likeness", "rm", &input_, readTIFF, writeTIFF, seekTIFF,
                                  closeTIFF, sizeTIFF, mapTIFF, unmapTIFF, options.get()));
    return tiff_ ? kReadOk : kDecoderRefused;
}

int TIFFRows::checkPicture(const ReadLimits& limits) {
    TIFF* tiff = tiff_.get();
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t samples = 1;
    std::uint16_t extra = 0;
    std::uint16_t* extraKinds = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)) {
        return kDecoderRefused;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra, &extraKinds);
    const bool grey =
        (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
        samples - extra == 1;
    std::int64_t bytes = 0;
    if (!withinCeiling(width, height, limits) || !checkedSize(width, height, &bytes) ||
        !checkedSize(bytes, grey ? 1 : 3, &bytes)) {
        return kBadHeader;
    }
    if (!TIFFIsCODECConfigured(compression) || format != SAMPLEFORMAT_UINT)
        return kUnsupportedDepth;
    std::uint16_t bits = 1;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    wideGrey_ = grey && bits == 16;
    samples_ = samples;
    whiteIsZero_ = photometric == PHOTOMETRIC_MINISWHITE;
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    depth_ = grey ? 8 : 24;
    return kReadOk;
}

int TIFFRows::open(PeekedStream* stream, const ReadLimits& limits) {
    const std::int64_t ceiling = ceilingInForce(limits);
    int result = prepareInput(stream, kTIFFBytesPerPixel * ceiling, &input_);
    if (result == kReadOk) result = openTIFF(ceiling);
    if (result == kReadOk) result = checkPicture(limits);
    if (result != kReadOk) return result;
    if (!wideGrey_) return startRGBA();
    std::uint16_t planes = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_PLANARCONFIG, &planes);
    if (TIFFIsTiled(tiff_.get()) || (planes != PLANARCONFIG_CONTIG && samples_ > 1))
        return kUnsupportedDepth;
    std::int64_t samples = 0;
    if (!checkedSize(width_, samples_, &samples) ||
        TIFFScanlineSize64(tiff_.get()) > static_cast<std::uint64_t>(2 * samples))
        return kDecoderRefused;
    row_.resize(static_cast<std::size_t>(samples));
    return kReadOk;
}

// Alpha is ignored as in every format: the RGBA interface would multiply unassociated alpha into
// the colour, so every extra sample is made one of no meaning first.
int TIFFRows::startRGBA() {
    std::uint16_t extra = 0;
    std::uint16_t* kinds = nullptr;
    if (TIFFGetField(tiff_.get(), TIFFTAG_EXTRASAMPLES, &extra, &kinds) && extra > 0) {
        const std::vector<std::uint16_t> unspecified(extra, EXTRASAMPLE_UNSPECIFIED);
        TIFFSetField(tiff_.get(), TIFFTAG_EXTRASAMPLES, extra, unspecified.data());
    }
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tiff_.get(), message)) return kUnsupportedDepth;
    if (!TIFFRGBAImageBegin(&image_, tiff_.get(), 1, message)) return kDecoderRefused;
    begun_ = true;
    image_.req_orientation = image_.orientation;
    std::uint32_t unit = 0;
    if (TIFFIsTiled(tiff_.get())) {
        TIFFGetField(tiff_.get(), TIFFTAG_TILELENGTH, &unit);
    } else {
        TIFFGetFieldDefaulted(tiff_.get(), TIFFTAG_ROWSPERSTRIP, &unit);
    }
    bandRows_ = static_cast<int>(std::clamp<std::uint32_t>(unit, 1, std::max(height_, 1)));
    std::int64_t pixels = 0;
    if (!checkedSize(bandRows_, width_, &pixels)) return kBadHeader;
    band_.resize(static_cast<std::size_t>(pixels));
    return kReadOk;
}

int TIFFRows::readWideGrey(std::uint8_t* row) {
    if (TIFFReadScanline(tiff_.get(), row_.data(), static_cast<std::uint32_t>(next_), 0) != 1 ||
        input_.failed) {
        return kDecoderRefused;
    }
    for (std::size_t x = 0; x < static_cast<std::size_t>(width_); ++x) {
        const std::uint16_t sample = row_[x * samples_];
        row[x] = scaledLevel(whiteIsZero_ ? 65535u - sample : sample, 65535);
    }
    return kReadOk;
}

int TIFFRows::decodeBand() {
    bandStart_ += bandHeld_;
    bandHeld_ = std::min(bandRows_, height_ - bandStart_);
    image_.row_offset = bandStart_;
    image_.col_offset = 0;
    const int ok = TIFFRGBAImageGet(&image_, band_.data(), static_cast<std::uint32_t>(width_),
                                    static_cast<std::uint32_t>(bandHeld_));
    return ok && !input_.failed ? kReadOk : kDecoderRefused;
}

int TIFFRows::readRows(std::uint8_t* rows, std::size_t stride, int count) {
    if (count > height_ - next_) return kDecoderRefused;
    const auto width = static_cast<std::size_t>(width_);
    for (int row = 0; row < count; ++row, ++next_) {
        if (wideGrey_) {
            const int result = readWideGrey(rows + static_cast<std::size_t>(row) * stride);
            if (result != kReadOk) return result;
            continue;
        }
        if (next_ >= bandStart_ + bandHeld_) {
            const int result = decodeBand();
            if (result != kReadOk) return result;
        }
        const std::uint32_t* pixels =
            band_.data() + static_cast<std::size_t>(next_ - bandStart_) * width;
        std::uint8_t* out = rows + static_cast<std::size_t>(row) * stride;
        for (std::size_t x = 0; x < width; ++x) {
            if (depth_ == 8) {
                out[x] = static_cast<std::uint8_t>(TIFFGetR(pixels[x]));
            } else {
                out[3 * x] = static_cast<std::uint8_t>(TIFFGetR(pixels[x]));
                out[3 * x + 1] = static_cast<std::uint8_t>(TIFFGetG(pixels[x]));
                out[3 * x + 2] = static_cast<std::uint8_t>(TIFFGetB(pixels[x]));
            }
        }
    }
    return kReadOk;
}

}  // namespace

int openTIFFrows(PeekedStream* stream, const ReadLimits& limits, RowSourcePtr* out) {
    std::unique_ptr<TIFFRows> rows(new (std::nothrow) TIFFRows());
    if (!rows) return kOutOfMemory;
    const int result = rows->open(stream, limits);
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
