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

// A folder of this test process's own, removed with everything in it when the process ends.
struct ScratchFolder {
    std::filesystem::path path;
    ScratchFolder() {
        std::string pattern = std::filesystem::temp_directory_path() / "likeness-test-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

inline std::string scratchPath(const std::string& name) {
    static const ScratchFolder folder;
    return (folder.path / name).string();
}

inline Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace test_files
