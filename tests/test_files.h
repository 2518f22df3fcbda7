// Files for the tests: the data folder, scratch files, and the pixel bytes of an image.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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
        std::string pattern = (std::filesystem::temp_directory_path() / "likeness-test-XXXXXX");
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

inline std::string writeScratch(const std::string& name, const Bytes& bytes) {
    const std::string path = scratchPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

// One line of the data folder's expected.txt: a file, the code reading it gives and, for a file
// that reads, a description of its pixels.
struct Listed {
    std::string path;
    int code;
    std::string pixels;
};

inline std::vector<Listed> listedFiles() {
    std::ifstream list(dataPath("expected.txt"));
    std::vector<Listed> files;
    for (std::string line; std::getline(list, line);) {
        std::istringstream fields(line);
        Listed file{"", 0, ""};
        if (fields >> file.path >> file.code && file.path[0] != '#') {
            fields >> file.pixels;
            file.path = dataPath(file.path);
            files.push_back(file);
        }
    }
    return files;
}

}  // namespace test_files
