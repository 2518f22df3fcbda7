// libFuzzer target: reads any bytes as a BMP file; an image that reads must survive being written
// and read again unchanged, and must score exactly 1 against itself.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bmp.h"
#include "likeness.h"

namespace {

// The reader takes a path, so every input goes through one file per process, in memory where
// the system offers a memory file system.
std::string scratchPath(const char* name) {
    const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/likeness-fuzz-" + std::to_string(getpid()) + "-" + name;
}

bool writeInput(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

bool samePixels(const likeness::Image& a, const likeness::Image& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) return false;
    const std::size_t bytes = static_cast<std::size_t>(a.width) * a.height * (a.depth / 8);
    return bytes == 0 || std::memcmp(a.data, b.data, bytes) == 0;
}

void checkRoundTrip(const likeness::Image& image) {
    static const std::string copyPath = scratchPath("copy.bmp");
    if (likeness::writeBMPfile(copyPath.c_str(), &image) != 0) std::abort();
    likeness::Image* raw = nullptr;
    int result = likeness::readBMPfile(copyPath.c_str(), &raw);
    likeness::ImagePtr copy(raw);
    if (result != likeness::kBMPOk || !samePixels(image, *copy)) std::abort();
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
    static const std::string inputPath = scratchPath("input.bmp");
    if (!writeInput(inputPath, data, size)) return 0;
    likeness::Image* raw = nullptr;
    int result = likeness::readBMPfile(inputPath.c_str(), &raw);
    likeness::ImagePtr image(raw);
    if (result != likeness::kBMPOk) return 0;
    checkRoundTrip(*image);
    checkSelfSimilarity(*image);
    return 0;
}
