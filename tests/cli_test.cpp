// Runs the built programs and checks their output bytes and exit status.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "test_files.h"

namespace {

struct Outcome {
    std::string output;
    int status;
};

Outcome run(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    Outcome result{"", -1};
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    for (std::size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) {
        result.output.append(buffer.data(), got);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The Shift_JIS bytes of a UTF-8 text, converted here rather than copied from the program.
std::string shiftJIS(std::string text) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    std::string out(text.size() * 2, '\0');
    char* in = text.data();
    char* to = out.data();
    std::size_t inLeft = text.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(converter, &in, &inLeft, &to, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

std::string data(const std::string& name) {
    return test_files::dataPath("crafted/" + name);
}

const std::string kUsage =
    "パラメータが足りません\nlikeness <read image file(1) name> <read image file(2) name>\n";
const std::string kFirst = "入力１の画像データが読めません";

// Every row of the message table, and results, byte for byte.
TEST(Tool, SaysExactlyWhatTheSituationCallsFor) {
    const std::string grey = data("grey8x8.bmp");
    const struct {
        std::string arguments;
        std::string output;  // UTF-8, as a reader sees it
        int status;
    } cases[] = {
        {"", kUsage, 1},
        {grey, kUsage, 1},
        {"missing.bmp missing.bmp", kFirst, 1},
        {data("empty.bmp") + " " + grey, kFirst, 1},
        {grey + " " + data("signature-ba.bmp"), "入力２の画像データが読めません", 1},
        {data("grey16x8.bmp") + " " + data("colour16x16.bmp"),
         "このプログラムはモノクロのみ対応しています\n", 1},
        {data("grey16x8.bmp") + " " + data("grey8x16.bmp"),
         "２つの画像のサイズが合いません．同じサイズの画像を使って下さい\n(1)H:8, W:16 <=> "
         "(2)H:16, W:8\n",
         1},
        {data("grey12x8.bmp") + " " + data("grey12x8.bmp"),
         "画像のサイズが小領域サイズ 8 で割り切れません(H:8, W:12)\n", 1},
        {grey + " " + grey + " ignored.bmp", "SSIM: 1.000000\n", 0},
        // Left blocks equal, right blocks 0 against 255: (1 + 6.5025 / 65031.5025) / 2.
        {data("left.bmp") + " " + data("right.bmp"), "SSIM: 0.500050\n", 0},
        {data("grey0x0.bmp") + " " + data("grey0x0.bmp"), "SSIM: nan\n", 0},
    };
    for (const auto& [arguments, output, status] : cases) {
        Outcome result = run(std::string(LIKENESS_EXE) + " " + arguments);
        EXPECT_EQ(result.output, shiftJIS(output)) << arguments;
        EXPECT_EQ(result.status, status) << arguments;
    }
    // A result that cannot be written is a failure.
    EXPECT_EQ(run(std::string(LIKENESS_EXE) + " " + grey + " " + grey + " > /dev/full").status, 1);
}

// Every file that cannot be read, crafted to be hostile or from the bmpsuite corpus, is a clean
// refusal of the first file, and nothing worse.
TEST(Tool, RefusesEveryUnreadableFileCleanly) {
    for (const auto& [path, code, pixels] : test_files::listedFiles()) {
        if (code == 0) continue;
        Outcome result = run(std::string(LIKENESS_EXE) + " " + path + " " + data("grey8x8.bmp"));
        EXPECT_EQ(result.output, shiftJIS(kFirst)) << path;
        EXPECT_EQ(result.status, 1) << path;
    }
}

TEST(Map, ChecksAsTheToolDoesAndDrawsTheBlockScores) {
    const std::string map = test_files::scratchPath("map.bmp");
    const std::string pairs[] = {data("left.bmp") + " " + data("right.bmp"),
                                 data("grey12x8.bmp") + " " + data("grey12x8.bmp"),
                                 "missing.bmp " + data("grey8x8.bmp")};
    for (const std::string& pair : pairs) {
        Outcome tool = run(std::string(LIKENESS_EXE) + " " + pair);
        Outcome drawn = run(std::string(LIKENESS_MAP_EXE) + " " + pair + " " + map);
        EXPECT_EQ(drawn.output, tool.output) << pair;
        EXPECT_EQ(drawn.status, tool.status) << pair;
    }
    // The map of left against right: rows of 16 bytes after the grey palette, the left block
    // white, the right one black (round(255 * 0.0001) is 0).
    const test_files::Bytes bytes = test_files::readBytes(map);
    ASSERT_EQ(bytes.size(), 1078u + 16 * 8);
    for (std::size_t i = 1078; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], (i - 1078) % 16 < 8 ? 255 : 0) << i;

    Outcome usage = run(std::string(LIKENESS_MAP_EXE) + " " + pairs[0]);
    EXPECT_EQ(usage.output,
              shiftJIS("パラメータが足りません\nlikeness-map <read image file(1) name> "
                       "<read image file(2) name> <write map file name>\n"));
    Outcome unwritable =
        run(std::string(LIKENESS_MAP_EXE) + " " + pairs[0] + " /nonexistent/map.bmp");
    EXPECT_EQ(unwritable.output, shiftJIS("SSIM: 0.500050\n出力画像が書き込めません\n"));
    EXPECT_EQ(unwritable.status, 1);
}

}  // namespace
