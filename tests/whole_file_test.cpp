// Files written whole or not at all. A full disk, for every writer that goes through
// writeWholeFile, is tested on the programs (check_terminal_test.py).
#include "likeness/whole_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_files.h"

namespace likeness {
namespace {

// A new empty folder of the test's own, and the names it holds.
std::string freshFolder(const std::string& name) {
    const std::string folder = test_files::scratchPath(name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    return folder;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

bool writeText(const std::string& path, const std::string& text) {
    return writeWholeFile(path.c_str(),
                          [&text](std::FILE* file) { return std::fputs(text.c_str(), file) >= 0; });
}

std::string textOf(const std::string& path) {
    const test_files::Bytes bytes = test_files::readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(WriteWholeFile, ReplacesAFileOnlyWhenEveryByteIsWritten) {
    const std::string folder = freshFolder("whole");
    const std::string path = folder + "/report.txt";
    EXPECT_TRUE(writeText(path, "first\n"));
    EXPECT_TRUE(writeText(path, "second\n"));
    EXPECT_EQ(textOf(path), "second\n");
    // A writer that gives up leaves the earlier file as it was, and no temporary beside it.
    EXPECT_FALSE(writeWholeFile(path.c_str(), [](std::FILE* file) {
        std::fputs("cut sh", file);
        return false;
    }));
    EXPECT_EQ(textOf(path), "second\n");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"report.txt"});
    // A link stays a link, to the file replaced; a device is written into, never replaced.
    std::filesystem::create_symlink("report.txt", folder + "/link.txt");
    EXPECT_TRUE(writeText(folder + "/link.txt", "third\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "/link.txt"));
    EXPECT_EQ(textOf(path), "third\n");
    std::filesystem::remove(folder + "/link.txt");
    EXPECT_TRUE(writeText("/dev/null", "nothing\n"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
    EXPECT_FALSE(writeText("/dev/full", "nothing\n"));
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_FALSE(writeText(folder, "a folder\n"));
    // A folder that does not exist: nothing to write into, nothing made.
    EXPECT_FALSE(writeText(folder + "/missing/report.txt", "x"));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"report.txt"});
}

}  // namespace
}  // namespace likeness
