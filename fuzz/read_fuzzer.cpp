// libFuzzer target: reads any bytes as an image file (BMP, PNG or PGM); an image that reads must
// survive being written as BMP and read again unchanged, and must score exactly 1 against itself.
// Everything stays in memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmp.h"
#include "image_file.h"
#include "likeness.h"

namespace {

// Reads an image file from memory into image; the reader's result. An empty buffer, which fmemopen
// may refuse, cannot be opened.
int readMemory(const void* data, std::size_t size, likeness::ImagePtr* image) {
    std::FILE* stream = size == 0 ? nullptr : fmemopen(const_cast<void*>(data), size, "rb");
    if (stream == nullptr) return likeness::kBMPCannotOpen;
    likeness::Image* raw = nullptr;
    const int result = likeness::readImageStream(stream, &raw);
    image->reset(raw);
    std::fclose(stream);
    return result;
}

// Written files grow in memory by doubling, which for a large file meets the allocation cap
// below; the images of such files are only scored.
constexpr std::size_t kRoundTripBytes = std::size_t{16} << 20;

std::size_t pixelBytes(const likeness::Image& image) {
    return static_cast<std::size_t>(image.width) * image.height * (image.depth / 8);
}

bool samePixels(const likeness::Image& a, const likeness::Image& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) return false;
    return pixelBytes(a) == 0 || std::memcmp(a.data, b.data, pixelBytes(a)) == 0;
}

void checkRoundTrip(const likeness::Image& image) {
    // Every row is written with up to 3 bytes of filler.
    const std::size_t fileBytes = pixelBytes(image) + 3 * static_cast<std::size_t>(image.height);
    if (fileBytes > kRoundTripBytes) return;
    char* written = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&written, &size);
    if (stream == nullptr) return;
    const int wrote = likeness::writeBMPstream(stream, &image);
    std::fclose(stream);
    likeness::ImagePtr copy;
    const int result = readMemory(written, size, &copy);
    std::free(written);
    if (wrote != 0 || result != likeness::kBMPOk || !samePixels(image, *copy)) std::abort();
}

void checkSelfSimilarity(const likeness::Image& image) {
    if (likeness::checkPair(&image, &image) != likeness::kPairOk) return;
    if (image.width == 0 || image.height == 0) return;
    if (likeness::meanSSIM(&image, &image) != 1.0) std::abort();
}

}  // namespace

// Most mutated headers announce large images that the data never fills. Under AddressSanitizer
// each such buffer costs a tenth of a second to map and poison, so buffers above 64 MiB are
// refused as if memory were exhausted: the reader's path for that case, and a fast one.
extern "C" const char* __asan_default_options() {
    return "max_allocation_size_mb=64:allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    likeness::ImagePtr image;
    if (readMemory(data, size, &image) != likeness::kBMPOk) return 0;
    checkRoundTrip(*image);
    checkSelfSimilarity(*image);
    return 0;
}
