// Files for the tests and the fuzzers: the data folder, a scratch folder, the bytes of a file, and
// reading an image file from memory.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "likeness/bmp.h"
#include "likeness/image_file.h"

namespace test_files {

using Bytes = std::vector<std::uint8_t>;

inline std::string dataPath(const std::string& name) {
    return std::string(LIKENESS_TEST_DATA) + "/" + name;
}

// A path in a folder of this test process's own, removed with all it holds when the process ends.
inline std::string scratchPath(const std::string& name) {
    static const struct Folder {
        std::string path = std::filesystem::temp_directory_path() / "likeness-test-XXXXXX";
        Folder() { mkdtemp(path.data()); }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path + "/" + name;
}

struct Read {
    int code;
    likeness::ImagePtr image;
};

// Reads an image file's bytes from memory, as readImageFile reads a file.
inline Read readMemory(const void* bytes, std::size_t size,
                       const likeness::ReadLimits& limits = likeness::ReadLimits{}) {
    std::FILE* stream = size == 0 ? nullptr : fmemopen(const_cast<void*>(bytes), size, "rb");
    if (stream == nullptr) return {likeness::kCannotOpen, nullptr};
    likeness::Image* image = nullptr;
    const int code = likeness::readImageStream(stream, &image, limits);
    std::fclose(stream);
    return {code, likeness::ImagePtr(image)};
}

inline Read readMemory(const Bytes& bytes) {
    return readMemory(bytes.data(), bytes.size());
}

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_files
