// Files for the tests: the data folder, a scratch folder, and the bytes of a file.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_files
