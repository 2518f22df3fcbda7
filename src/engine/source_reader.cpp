#include "engine/source_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>
#include <vector>

#include "engine/scoring_memory.h"
#include "formats/reading.h"
#include "likeness/image_file.h"

namespace likeness {

namespace {

// A file is read through a buffer this large: few system calls for a large image, and a buffer
// small enough to stay in the cache while rows are copied out of it.
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;

// Opens a regular file or a pipe for reading, without waiting for a pipe's writer: a pipe that no
// one writes to reads as empty at once, so that a stray pipe never holds up a run. Anything else
// (a folder, a device, which may never end, a socket) gives kCannotOpen, as does a file that
// cannot be opened.
int openFile(const char* path, FilePtr* file, bool* regular) {
    const int descriptor = open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return kCannotOpen;
    struct stat status {};
    const bool readable = fstat(descriptor, &status) == 0 &&
                          (S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode)) &&
                          fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK) == 0;
    std::FILE* stream = readable ? fdopen(descriptor, "rb") : nullptr;
    if (stream == nullptr) {
        close(descriptor);
        return readable ? kOutOfMemory : kCannotOpen;
    }
    file->reset(stream);
    *regular = S_ISREG(status.st_mode);
    return kReadOk;
}

std::int64_t fileSize(std::FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 ? status.st_size : -1;
}

// Whether each index i has grey level 255 - i, which programs write for pictures whose 0 is
// white: a level is then the index with every bit flipped, much faster than a table lookup.
bool isInverted(const std::array<std::uint8_t, 256>& grey) {
    for (std::size_t i = 0; i < grey.size(); ++i) {
        if (grey[i] != 255 - i) return false;
    }
    return true;
}

// An uncompressed BMP file that holds all its rows, filler included, as the reader wants them.
bool locateBMProws(SourceReader* picture, const ReadLimits& limits) {
    BMPLayout layout;
    const std::int64_t size = fileSize(picture->stream);
    if (readBMPlayout(picture->stream, limits, &layout) != kReadOk || layout.pixelStart > size ||
        layout.stride * layout.height > size - layout.pixelStart) {
        return false;
    }
    picture->width = layout.width;
    picture->height = layout.height;
    picture->rowsStart = layout.pixelStart;
    picture->stride = static_cast<std::size_t>(layout.stride);
    picture->bottomUp = !layout.topDown;
    picture->pixels = layout.bits == 24         ? Pixels::kBlueGreenRed
                      : layout.identity         ? Pixels::kGrey
                      : isInverted(layout.grey) ? Pixels::kInverted
                                                : Pixels::kPalette;
    picture->grey = layout.grey;
    // A 24-bit picture without pixels has no 8-bit twin.
    picture->colour = layout.bits == 24 && (layout.width == 0 || layout.height == 0);
    return true;
}

// A binary PGM file of maxval 255, whose samples are the grey levels, holding all of them.
bool locatePGMrows(SourceReader* picture) {
    std::FILE* file = picture->stream;
    int maxval = 0;
    const int result = readPGMheader(file, &picture->width, &picture->height, &maxval);
    picture->rowsStart = std::ftell(file);
    std::int64_t count = 0;
    if (result != kReadOk || maxval != 255 || picture->rowsStart < 0 ||
        !checkedSize(picture->width, picture->height, &count) ||
        count > fileSize(file) - picture->rowsStart) {
        return false;
    }
    picture->stride = static_cast<std::size_t>(picture->width);
    return true;
}

// Whether the rows of a regular file can be read where they lie; if not, the stream is put back
// just after the format's bytes.
bool locateRows(Format format, const ReadLimits& limits, SourceReader* picture) {
    if (format != Format::kBMP && format != Format::kPGM) return false;
    const bool located =
        format == Format::kBMP ? locateBMProws(picture, limits) : locatePGMrows(picture);
    if (!located) std::fseek(picture->stream, 2, SEEK_SET);
    picture->placed = located;
    return located;
}

// A 24-bit picture in memory as grey levels: its twin or its luma, made into owned. An image
// whose pixels cannot all be grey (a pixel of colour, or none at all) is marked colour.
int takeColourImage(const Image& image, SourceReader* picture) {
    const auto width = static_cast<std::size_t>(image.width);
    Image* raw = nullptr;
    const int result = image.width > 0 && image.height > 0
                           ? newImage(image.width, image.height, 8, &raw)
                           : kReadOk;
    ImagePtr grey(raw);
    if (result != kReadOk || !grey) {
        picture->colour = true;
        return result;
    }
    for (int y = 0; y < image.height && !picture->colour; ++y) {
        const std::uint8_t* row = image.data + 3 * width * static_cast<std::size_t>(y);
        std::uint8_t* levels = grey->data + width * static_cast<std::size_t>(y);
        if (picture->luma) {
            lumaRow(row, Pixels::kRedGreenBlue, levels, width);
        } else {
            greyRow(row, levels, width, &picture->colour);
        }
    }
    if (!picture->colour) picture->image = grey.get();
    picture->owned = std::move(grey);
    return kReadOk;
}

// An image in memory, grey or 24-bit; any other is not grey.
int takeImage(const Image* image, ImagePtr owned, SourceReader* picture) {
    picture->width = image->width;
    picture->height = image->height;
    picture->stride = static_cast<std::size_t>(image->width);
    const bool empty = image->width == 0 || image->height == 0;
    if (image->depth == 8 && (image->data != nullptr || empty)) {
        picture->image = image;
        picture->owned = std::move(owned);
        return kReadOk;
    }
    if (image->depth == 24 && image->data != nullptr) return takeColourImage(*image, picture);
    picture->colour = true;
    return kReadOk;
}

// A decoder's rows, or the whole image of a format that is read whole.
int openDecoded(Format format, const ReadLimits& limits, SourceReader* picture) {
    if (format != Format::kBMP && format != Format::kUnknown) {
        const int result = openRows(format, picture->peeked.get(), limits, &picture->rows);
        if (result != kReadOk) return result;
        picture->width = picture->rows->width();
        picture->height = picture->rows->height();
        picture->pixels = picture->rows->depth() == 24 ? Pixels::kRedGreenBlue : Pixels::kGrey;
        picture->stride = storedRowBytes(*picture);
        return kReadOk;
    }
    Image* raw = nullptr;
    const int result = readFormat(format, picture->peeked.get(), &raw, limits);
    ImagePtr image(raw);
    // A folder or a device may open but not read: that is no end of the file.
    if (std::ferror(picture->stream)) return kCannotOpen;
    // A file that ends inside its pixels hands over part of an image, which is not compared.
    if (result != kReadOk) return result;
    const Image* held = image.get();
    return takeImage(held, std::move(image), picture);
}

}  // namespace

int openSource(const Source& source, const CompareOptions& options, SourceReader* picture) {
    picture->luma = options.luma;
    if (source.image != nullptr) return takeImage(source.image, nullptr, picture);
    bool regular = false;
    if (source.path != nullptr) {
        const int result = openFile(source.path, &picture->file, &regular);
        if (result != kReadOk) return result;
        std::setvbuf(picture->file.get(), nullptr, _IOFBF, kFileBuffer);
        picture->stream = picture->file.get();
    } else {
        picture->stream = source.stream;
    }
    picture->peeked.reset(new (std::nothrow) PeekedStream(picture->stream));
    if (!picture->peeked) return kOutOfMemory;
    const Format format = picture->peeked->tell();
    if (picture->peeked->peeked() < 2)
        return std::ferror(picture->stream) ? kCannotOpen : kEmptyFile;
    if (regular && locateRows(format, options.limits, picture)) return kReadOk;
    return openDecoded(format, options.limits, picture);
}

bool readStoredRows(const SourceReader& picture, std::size_t firstRow, std::size_t count,
                    std::uint8_t* buffer) {
    const std::size_t bytes = count * picture.stride;
    std::size_t got = 0;
    const int descriptor = fileno(picture.stream);
    while (got < bytes) {
        const auto offset = static_cast<off_t>(picture.rowsStart) +
                            static_cast<off_t>(firstRow * picture.stride + got);
        const ssize_t read = pread(descriptor, buffer + got, bytes - got, offset);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) break;
        got += static_cast<std::size_t>(read);
    }
    std::fill(buffer + got, buffer + bytes, 0);
    return got == bytes;
}

GreyRows storedRows(const SourceReader& picture, int y0, int count, std::uint8_t* stored,
                    bool* ended) {
    const auto stride = static_cast<std::ptrdiff_t>(picture.stride);
    if (picture.image != nullptr) return {picture.image->data + y0 * stride, stride};
    const int lowest = picture.bottomUp ? picture.height - y0 - count : y0;
    if (!readStoredRows(picture, static_cast<std::size_t>(lowest), static_cast<std::size_t>(count),
                        stored)) {
        *ended = true;
    }
    levelsInPlace(picture.pixels, picture.grey, stored,
                  static_cast<std::size_t>(count) * picture.stride);
    if (!picture.bottomUp) return {stored, stride};
    return {stored + (count - 1) * stride, -stride};
}

GreyRows greyBand(const SourceReader& picture, GreyRows band, int count, std::uint8_t* grey,
                  bool* colour) {
    if (picture.pixels != Pixels::kBlueGreenRed && picture.pixels != Pixels::kRedGreenBlue)
        return band;
    const auto width = static_cast<std::size_t>(picture.width);
    for (std::ptrdiff_t row = 0; row < count; ++row) {
        const std::uint8_t* stored = band.data + row * band.stride;
        std::uint8_t* levels = grey + static_cast<std::size_t>(row) * width;
        if (picture.luma) {
            lumaRow(stored, picture.pixels, levels, width);
        } else {
            greyRow(stored, levels, width, colour);
        }
    }
    return {grey, static_cast<std::ptrdiff_t>(width)};
}

std::size_t storedRowBytes(const SourceReader& picture) {
    if (picture.placed) return picture.stride;
    const std::size_t channels = picture.pixels == Pixels::kRedGreenBlue ? 3 : 1;
    return channels * static_cast<std::size_t>(picture.width);
}

GreyRows nextRows(SourceReader* picture, int y0, int count, std::uint8_t* stored,
                  std::uint8_t* grey) {
    if (!picture->rows) {
        bool ended = false;
        const GreyRows rows = storedRows(*picture, y0, count, stored, &ended);
        // The file was whole when it was opened: it shrank while it was read.
        if (ended) picture->result = kBadPixels;
        return greyBand(*picture, rows, count, grey, &picture->colour);
    }
    const std::size_t bytes = storedRowBytes(*picture);
    if (picture->result == kReadOk) picture->result = picture->rows->readRows(stored, bytes, count);
    // Rows a refused file did not give are scored as 0, to no purpose: the file is not compared.
    if (picture->result != kReadOk) std::fill_n(stored, bytes * static_cast<std::size_t>(count), 0);
    picture->nextRow += count;
    return greyBand(*picture, {stored, static_cast<std::ptrdiff_t>(bytes)}, count, grey,
                    &picture->colour);
}

void finishSource(SourceReader* picture) {
    if (picture->rows && picture->result == kReadOk) picture->result = picture->rows->finish();
    if (picture->rows && picture->result == kReadOk && std::ferror(picture->stream))
        picture->result = kCannotOpen;
}

namespace {

void readRowsThrough(SourceReader* picture) {
    // A picture in memory has shown all it has when it was taken.
    if ((!picture->placed && !picture->rows) || picture->result != kReadOk) return;
    // A placed file was found whole when it was opened; only a 24-bit one's pixels say more.
    if (picture->placed && picture->pixels != Pixels::kBlueGreenRed) return;
    // A band's buffers, or a shorter picture's rows: one without rows, however wide, takes none.
    const auto rows = static_cast<std::size_t>(std::min(kBlockSize, picture->height));
    const ScoringMemory stored(rows * storedRowBytes(*picture));
    const ScoringMemory grey(rows * static_cast<std::size_t>(picture->width));
    for (int y0 = 0; y0 < picture->height && picture->result == kReadOk; y0 += kBlockSize) {
        nextRows(picture, y0, std::min(kBlockSize, picture->height - y0), stored.data(),
                 grey.data());
        if (picture->placed && picture->colour) return;
    }
    finishSource(picture);
}

}  // namespace

void readThrough(SourceReader* picture) {
    // Memory refused here is this picture's, not the one read before it.
    try {
        readRowsThrough(picture);
    } catch (const std::bad_alloc&) {
        picture->result = kOutOfMemory;
    }
}

int readSource(const Source& source, const ReadLimits& limits, Image** out) {
    FilePtr file;
    std::FILE* stream = source.stream;
    if (source.path != nullptr) {
        bool regular = false;
        const int result = openFile(source.path, &file, &regular);
        if (result != kReadOk) return result;
        std::setvbuf(file.get(), nullptr, _IOFBF, kFileBuffer);
        stream = file.get();
    }
    if (stream == nullptr) return kCannotOpen;
    Image* raw = nullptr;
    const int result = readImageStream(stream, &raw, limits);
    ImagePtr image(raw);
    if (result == kReadOk) *out = image.release();
    return result;
}

}  // namespace likeness
