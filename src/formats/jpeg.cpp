// JPEG files, decoded by libjpeg-turbo through its libjpeg API.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "formats/reading.h"
#include "formats/row_source.h"

namespace likeness {

namespace {

// Each scan of a progressive file is a pass over the whole picture, and a scan can be a few
// bytes: without a limit a small file could cost hours. The work of decoding is bounded as its
// memory is, in proportion to the ceiling on pixels: scans times pixels may come to this many
// passes over a picture at the ceiling (a second or two each at 2^28 pixels). Encoders write
// about ten scans; a smaller picture may have proportionally more.
constexpr std::int64_t kJPEGCeilingPasses = 32;
// The file is handed to libjpeg in chunks this large, never held whole.
constexpr std::size_t kJPEGChunk = std::size_t{64} << 10;
constexpr JOCTET kStartOfImage[] = {0xFF, 0xD8};
// Rows handed to libjpeg at a time: few calls, while its upsampling works in groups of rows.
constexpr JDIMENSION kRowsPerRead = 16;

// Everything one decoding needs. libjpeg leaves a failed decoding by longjmp to refusal, so the
// decoding keeps its state here rather than in objects with destructors.
struct JPEGReader {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    std::jmp_buf refusal;
    int result;              // what a refusal returns
    std::int64_t scanLimit;  // the most scans the work budget allows the picture
    std::FILE* file;
    JOCTET chunk[kJPEGChunk];
};

JPEGReader* readerOf(j_common_ptr info) {
    return static_cast<JPEGReader*>(info->client_data);
}

[[noreturn]] void refuse(j_common_ptr info, int result) {
    JPEGReader* reader = readerOf(info);
    reader->result = result;
    std::longjmp(reader->refusal, 1);
}

// libjpeg's errors: samples of another precision and coding processes it does not decode
// (lossless, hierarchical) are kinds of picture not read here; anything else is a broken file.
void exitOnError(j_common_ptr info) {
    const int code = info->err->msg_code;
    if (code == JERR_OUT_OF_MEMORY) refuse(info, kOutOfMemory);
    refuse(info, code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED ? kUnsupportedDepth
                                                                            : kDecoderRefused);
}

// A warning means libjpeg patched over damage (cut data, a bad code, a lost restart marker): its
// picture would not be the file's, so the file is refused. Trace messages are dropped.
void refuseWarnings(j_common_ptr info, int level) {
    if (level < 0) refuse(info, kDecoderRefused);
}

void limitScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > readerOf(info)->scanLimit) {
        refuse(info, kDecoderRefused);
    }
}

// How many scans of a picture of these many pixels the work budget allows: at least one.
std::int64_t scanLimitOf(std::int64_t pixels, const ReadLimits& limits) {
    return std::max<std::int64_t>(
        1, kJPEGCeilingPasses * ceilingInForce(limits) / std::max<std::int64_t>(1, pixels));
}

// The source: first the two bytes that told the format, which the caller has read, then the
// rest of the file chunk by chunk. Nothing is read twice, so a pipe works as well as a file.
void startSource(j_decompress_ptr info) {
    info->src->next_input_byte = kStartOfImage;
    info->src->bytes_in_buffer = sizeof kStartOfImage;
}

boolean fillChunk(j_decompress_ptr info) {
    JPEGReader* reader = readerOf(reinterpret_cast<j_common_ptr>(info));
    const std::size_t length = std::fread(reader->chunk, 1, kJPEGChunk, reader->file);
    // libjpeg would invent an end marker and warn; the file is cut, and so refused.
    if (length == 0) refuse(reinterpret_cast<j_common_ptr>(info), kDecoderRefused);
    info->src->next_input_byte = reader->chunk;
    info->src->bytes_in_buffer = length;
    return TRUE;
}

void skipBytes(j_decompress_ptr info, long count) {
    jpeg_source_mgr* source = info->src;
    while (count > 0) {
        if (source->bytes_in_buffer == 0) fillChunk(info);
        const std::size_t step = static_cast<std::size_t>(count) < source->bytes_in_buffer
                                     ? static_cast<std::size_t>(count)
                                     : source->bytes_in_buffer;
        source->next_input_byte += step;
        source->bytes_in_buffer -= step;
        count -= static_cast<long>(step);
    }
}

void endSource(j_decompress_ptr) {}

void setUpReader(JPEGReader* reader, std::FILE* file) {
    reader->file = file;
    reader->info.err = jpeg_std_error(&reader->errors);
    reader->errors.error_exit = exitOnError;
    reader->errors.emit_message = refuseWarnings;
    reader->info.client_data = reader;
    reader->source.init_source = startSource;
    reader->source.fill_input_buffer = fillChunk;
    reader->source.skip_input_data = skipBytes;
    reader->source.resync_to_restart = jpeg_resync_to_restart;
    reader->source.term_source = endSource;
    reader->progress.progress_monitor = limitScans;
}

// The picture's kind and sides, checked right after the header, before anything is decoded.
// Every limit on a picture's size belongs here. Grey pictures decode to 8 bits, YCbCr and RGB
// ones to red, green and blue; CMYK, YCCK and pictures of other component counts are not read.
int checkJPEGheader(jpeg_decompress_struct* info, const ReadLimits& limits) {
    if (info->data_precision != 8) return kUnsupportedDepth;
    if (!withinCeiling(info->image_width, info->image_height, limits)) return kBadHeader;
    const bool grey = info->jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && info->jpeg_color_space != JCS_YCbCr && info->jpeg_color_space != JCS_RGB) {
        return kUnsupportedDepth;
    }
    info->out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    std::int64_t pixels = 0;
    std::int64_t bytes = 0;
    const bool fits = checkedSize(info->image_width, info->image_height, &pixels) &&
                      checkedSize(pixels, grey ? 1 : 3, &bytes);
    readerOf(reinterpret_cast<j_common_ptr>(info))->scanLimit = scanLimitOf(pixels, limits);
    return fits ? kReadOk : kBadHeader;
}

// libjpeg leaves a failed call by longjmp to the refusal set up in each of these, so none of
// them holds an object with a destructor.
class JPEGRows final : public RowSource {
  public:
    explicit JPEGRows(std::unique_ptr<JPEGReader> reader) : reader_(std::move(reader)) {}
    ~JPEGRows() override { jpeg_destroy_decompress(&reader_->info); }
    JPEGRows(const JPEGRows&) = delete;
    JPEGRows& operator=(const JPEGRows&) = delete;

    // Reads the header and starts decompressing: a progressive picture is decoded whole here,
    // into coefficients that libjpeg keeps.
    int open(const ReadLimits& limits) {
        jpeg_decompress_struct* info = &reader_->info;
        if (setjmp(reader_->refusal) != 0) return reader_->result;
        jpeg_create_decompress(info);
        info->src = &reader_->source;
        info->progress = &reader_->progress;
        jpeg_read_header(info, TRUE);
        const int result = checkJPEGheader(info, limits);
        if (result != kReadOk) return result;
        // libjpeg keeps both sides within 65500, so they fit an int.
        width_ = static_cast<int>(info->image_width);
        height_ = static_cast<int>(info->image_height);
        depth_ = info->out_color_space == JCS_GRAYSCALE ? 8 : 24;
        jpeg_start_decompress(info);
        return kReadOk;
    }

    int readRows(std::uint8_t* rows, std::size_t stride, int count) override {
        if (setjmp(reader_->refusal) != 0) return reader_->result;
        jpeg_decompress_struct* info = &reader_->info;
        JSAMPROW pointers[kRowsPerRead];
        for (int done = 0; done < count;) {
            const int group = std::min(count - done, static_cast<int>(kRowsPerRead));
            for (int i = 0; i < group; ++i) pointers[i] = rows + (done + i) * stride;
            const JDIMENSION read =
                jpeg_read_scanlines(info, pointers, static_cast<JDIMENSION>(group));
            if (read == 0) return kDecoderRefused;
            done += static_cast<int>(read);
        }
        return kReadOk;
    }

    // Reads on to the end marker, so that a file damaged after its last row is refused too.
    int finish() override {
        if (setjmp(reader_->refusal) != 0) return reader_->result;
        if (reader_->info.output_scanline < reader_->info.output_height) return kDecoderRefused;
        jpeg_finish_decompress(&reader_->info);
        return kReadOk;
    }

  private:
    std::unique_ptr<JPEGReader> reader_;
};

}  // namespace

int openJPEGrows(std::FILE* file, const ReadLimits& limits, RowSourcePtr* out) {
    std::unique_ptr<JPEGReader> reader(new (std::nothrow) JPEGReader{});
    if (!reader) return kOutOfMemory;
    setUpReader(reader.get(), file);
    std::unique_ptr<JPEGRows> rows(new (std::nothrow) JPEGRows(std::move(reader)));
    if (!rows) return kOutOfMemory;
    const int result = rows->open(limits);
    if (result == kReadOk) *out = std::move(rows);
    return result;
}

}  // namespace likeness
