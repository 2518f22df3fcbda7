// Files written whole or not at all: by writeWholeFile and by writeBMPfile through it.
#include "likeness/whole_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "likeness/bmp.h"
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

// Runs body in a child process whose files may grow to limit bytes, as a full disk would stop
// them; the exit status is body's result. SIGXFSZ is ignored, so that a write past the limit
// fails with EFBIG instead of ending the process.
bool underSizeLimit(rlim_t limit, bool (*body)(const std::string&), const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit size{limit, limit};
        setrlimit(RLIMIT_FSIZE, &size);
        _exit(body(path) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    return WEXITSTATUS(status) == 0;
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

TEST(WriteWholeFile, LeavesNothingCutShortWhenTheDiskIsFull) {
    const std::string folder = freshFolder("full");
    const std::string path = folder + "/long.txt";
    ASSERT_TRUE(writeText(path, "earlier\n"));
    const auto longText = [](const std::string& to) {
        return writeText(to, std::string(1 << 16, 'x'));
    };
    EXPECT_FALSE(underSizeLimit(4096, longText, path));
    EXPECT_EQ(textOf(path), "earlier\n");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"long.txt"});
    EXPECT_TRUE(underSizeLimit(1 << 20, longText, path));
    EXPECT_EQ(textOf(path).size(), std::size_t{1 << 16});
    // A new file cut short is not left at all.
    const auto bmp = [](const std::string& to) {
        ImagePtr image(createImage(256, 256, 24));
        return image && writeBMPfile(to.c_str(), image.get()) == 0;
    };
    EXPECT_FALSE(underSizeLimit(4096, bmp, folder + "/map.bmp"));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"long.txt"});
    EXPECT_TRUE(underSizeLimit(1 << 20, bmp, folder + "/map.bmp"));
    EXPECT_EQ(std::filesystem::file_size(folder + "/map.bmp"), 54u + 256 * 256 * 3);
}

}  // namespace
}  // namespace likeness
