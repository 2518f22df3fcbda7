// JPEG files, decoded by libjpeg-turbo through its libjpeg API.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "formats/reading.h"

namespace likeness {

namespace {

// Each scan of a progressive file is a pass over the whole picture, and a scan can be a few
// bytes: without a limit a small file could cost hours. Encoders write at most a few tens of
// scans; a file with more than this many is refused as hostile.
constexpr int kJPEGScanLimit = 500;
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
    int result;  // what a refusal returns
    std::FILE* file;
    ReadLimits limits;
    Image* image;  // owned until handed over
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
    refuse(info, code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED ? kUnsupportedDepth
                                                                            : kDecoderRefused);
}

// A warning means libjpeg patched over damage (cut data, a bad code, a lost restart marker): its
// picture would not be the file's, so the file is refused. Trace messages are dropped.
void refuseWarnings(j_common_ptr info, int level) {
    if (level < 0) refuse(info, kDecoderRefused);
}

void limitScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kJPEGScanLimit) {
        refuse(info, kDecoderRefused);
    }
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

// The image the picture decodes into, checked against the image model right after the header,
// before anything is decoded. Every limit on a picture's size belongs here. Grey pictures decode
// to 8-bit images, YCbCr and RGB ones to red, green and blue; CMYK, YCCK and pictures of other
// component counts are not read.
int createJPEGImage(jpeg_decompress_struct* info, const ReadLimits& limits, Image** image) {
    if (info->data_precision != 8) return kUnsupportedDepth;
    if (!withinCeiling(info->image_width, info->image_height, limits)) return kBadHeader;
    const bool grey = info->jpeg_color_space == JCS_GRAYSCALE;
    if (!grey && info->jpeg_color_space != JCS_YCbCr && info->jpeg_color_space != JCS_RGB) {
        return kUnsupportedDepth;
    }
    info->out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    // libjpeg keeps both sides within 65500, so they fit an int.
    *image = createImage(static_cast<int>(info->image_width), static_cast<int>(info->image_height),
                         grey ? 8 : 24);
    return *image == nullptr ? kBadHeader : kReadOk;
}

// Decodes the rows straight into the image, a group at a time.
bool readRows(jpeg_decompress_struct* info, Image* image) {
    const std::size_t stride =
        static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->depth / 8);
    JSAMPROW rows[kRowsPerRead];
    while (info->output_scanline < info->output_height) {
        const JDIMENSION first = info->output_scanline;
        const JDIMENSION left = info->output_height - first;
        const JDIMENSION count = left < kRowsPerRead ? left : kRowsPerRead;
        for (JDIMENSION i = 0; i < count; ++i) rows[i] = image->data + (first + i) * stride;
        if (jpeg_read_scanlines(info, rows, count) == 0) return false;
    }
    return true;
}

// The whole decoding, from creating libjpeg's state. A refusal comes back here by longjmp, so
// this function, and every function it calls into libjpeg from, holds no object with a
// destructor.
int decodeJPEG(JPEGReader* reader) {
    if (setjmp(reader->refusal) != 0) return reader->result;
    jpeg_create_decompress(&reader->info);
    reader->info.src = &reader->source;
    reader->info.progress = &reader->progress;
    jpeg_read_header(&reader->info, TRUE);
    const int result = createJPEGImage(&reader->info, reader->limits, &reader->image);
    if (result != kReadOk) return result;
    jpeg_start_decompress(&reader->info);
    if (!readRows(&reader->info, reader->image)) return kDecoderRefused;
    // Reads on to the end marker, so that a file damaged after its last row is refused too.
    jpeg_finish_decompress(&reader->info);
    return kReadOk;
}

}  // namespace

int readJPEGafterSignature(std::FILE* file, Image** out, const ReadLimits& limits) {
    const std::unique_ptr<JPEGReader> reader(new (std::nothrow) JPEGReader{});
    if (!reader) return kDecoderRefused;
    setUpReader(reader.get(), file);
    reader->limits = limits;
    const int result = decodeJPEG(reader.get());
    jpeg_destroy_decompress(&reader->info);
    ImagePtr image(reader->image);
    if (result == kReadOk) *out = image.release();
    return result;
}

}  // namespace likeness
