// libFuzzer target: reads any bytes as an image file (of any format read); an image that reads
// must survive being written as BMP and read again unchanged, and must score exactly 1 against
// itself. Everything stays in memory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "likeness/bmp.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"
#include "test_files.h"

namespace {

// Written files grow in memory by doubling, which for a large file meets the allocation cap
// (allocation_cap.cpp); and a few bytes of run-length stream may describe an image of gigabytes,
// which takes seconds to score. Larger images are only read.
constexpr std::size_t kCheckedBytes = std::size_t{16} << 20;
// libavif ends the process when an allocation fails, which the allocation cap would make happen
// for any AVIF header of more than 2^25 pixels (a plane of two bytes a sample past 64 MiB): the
// pictures read are held to a ceiling below that, and every format with them.
constexpr likeness::ReadLimits kLimits{std::int64_t{1} << 24};

// An image that reads scores exactly 1 against itself, and comes back unchanged through the writer
// and the reader.
void check(const likeness::Image& image) {
    const std::size_t bytes = std::size_t{1} * image.width * image.height * (image.depth / 8);
    // Every row is written with up to 3 bytes of filler.
    if (bytes + 3 * static_cast<std::size_t>(image.height) > kCheckedBytes) return;
    if (likeness::checkPair(&image, &image) == likeness::kPairOk && bytes > 0 &&
        likeness::meanSSIM(&image, &image) != 1.0) {
        std::abort();
    }
    char* written = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&written, &size);
    if (stream == nullptr) return;
    const int wrote = likeness::writeBMPstream(stream, &image);
    std::fclose(stream);
    const auto [result, copy] = test_files::readMemory(written, size);
    std::free(written);
    if (wrote != 0 || result != likeness::kReadOk || copy->width != image.width ||
        copy->height != image.height || copy->depth != image.depth ||
        (bytes > 0 && std::memcmp(copy->data, image.data, bytes) != 0)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto [result, image] = test_files::readMemory(data, size, kLimits);
    if (result == likeness::kReadOk) check(*image);
    return 0;
}
