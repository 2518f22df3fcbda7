// Runs the built likeness program and checks its output bytes and exit status.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bmp_bytes.h"

namespace {

using testing_bmp::Bytes;

struct ToolRun {
    std::string output;
    int status;
};

ToolRun runProgram(const std::string& program, const std::string& arguments) {
    std::string command = program + " " + arguments;
    std::FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{"", -1};
    if (pipe == nullptr) return run;
    std::array<char, 4096> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.output.append(buffer.data(), got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ToolRun runTool(const std::string& arguments) {
    return runProgram(LIKENESS_EXE, arguments);
}
ToolRun runMap(const std::string& arguments) {
    return runProgram(LIKENESS_MAP_EXE, arguments);
}

// The Shift_JIS bytes of a UTF-8 text, converted here rather than copied from the program.
std::string shiftJIS(const std::string& utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    EXPECT_NE(converter, reinterpret_cast<iconv_t>(-1));
    std::string in = utf8;
    std::string out(in.size() * 2, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    EXPECT_NE(iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft),
              static_cast<std::size_t>(-1));
    iconv_close(converter);
    out.resize(out.size() - outLeft);
    return out;
}

std::string greyFile(const std::string& name, int width, int height, std::uint8_t level) {
    return testing_bmp::writeFile(
        name, testing_bmp::greyBmp(width, height,
                                   Bytes(static_cast<std::size_t>(width * height), level)));
}

TEST(Tool, FewerThanTwoNamesPrintsTheUsage) {
    const std::string expected = shiftJIS("パラメータが足りません") + "\n" +
                                 "likeness <read image file(1) name> <read image file(2) name>\n";
    for (const char* arguments : {"", "one.bmp"}) {
        ToolRun run = runTool(arguments);
        EXPECT_EQ(run.output, expected);
        EXPECT_EQ(run.status, 1);
    }
}

TEST(Tool, UnreadableFilesAreNamedByTheirPosition) {
    const std::string good = greyFile("good.bmp", 8, 8, 1);
    const std::string missing = testing_bmp::tempPath("missing.bmp");
    const std::string cut = testing_bmp::writeFile("cut.bmp", Bytes{'B', 'M', 0});

    ToolRun run = runTool(missing + " " + missing);
    EXPECT_EQ(run.output, shiftJIS("入力１の画像データが読めません"));
    EXPECT_EQ(run.status, 1);
    run = runTool(cut + " " + good);
    EXPECT_EQ(run.output, shiftJIS("入力１の画像データが読めません"));
    EXPECT_EQ(run.status, 1);
    run = runTool(good + " " + cut);
    EXPECT_EQ(run.output, shiftJIS("入力２の画像データが読めません"));
    EXPECT_EQ(run.status, 1);
}

TEST(Tool, RefusesPairsThatCannotBeCompared) {
    testing_bmp::Layout colourLayout;
    colourLayout.width = 16;
    colourLayout.height = 16;
    colourLayout.bits = 24;
    colourLayout.rows = Bytes(16 * 16 * 3, 0);
    const std::string colour =
        testing_bmp::writeFile("colour.bmp", testing_bmp::bmpBytes(colourLayout));
    const std::string wide = greyFile("wide.bmp", 16, 8, 0);
    const std::string tall = greyFile("tall.bmp", 8, 16, 0);
    const std::string odd = greyFile("odd.bmp", 12, 8, 0);

    const std::string monochrome = shiftJIS("このプログラムはモノクロのみ対応しています") + "\n";
    ToolRun run = runTool(wide + " " + colour);  // the depth is checked before the size
    EXPECT_EQ(run.output, monochrome);
    EXPECT_EQ(run.status, 1);
    run = runTool(colour + " " + colour);
    EXPECT_EQ(run.output, monochrome);

    run = runTool(wide + " " + tall);
    EXPECT_EQ(run.output,
              shiftJIS("２つの画像のサイズが合いません．同じサイズの画像を使って下さい") +
                  "\n(1)H:8, W:16 <=> (2)H:16, W:8\n");
    EXPECT_EQ(run.status, 1);

    run = runTool(odd + " " + odd);
    EXPECT_EQ(run.output, shiftJIS("画像のサイズが小領域サイズ 8 で割り切れません(H:8, W:12)\n"));
    EXPECT_EQ(run.status, 1);
}

TEST(Tool, PrintsTheMeanOfTheBlocks) {
    const std::string grey = greyFile("grey.bmp", 16, 8, 77);
    ToolRun run = runTool(grey + " " + grey + " ignored.bmp");
    EXPECT_EQ(run.output, "SSIM: 1.000000\n");
    EXPECT_EQ(run.status, 0);

    // Left block equal, right block 0 against 255: (1 + 6.5025 / 65031.5025) / 2.
    Bytes left(16 * 8, 77);
    Bytes right(16 * 8, 77);
    for (int y = 0; y < 8; ++y) {
        for (int x = 8; x < 16; ++x) left[y * 16 + x] = 0, right[y * 16 + x] = 255;
    }
    const std::string first = testing_bmp::writeFile("left.bmp", testing_bmp::greyBmp(16, 8, left));
    const std::string second =
        testing_bmp::writeFile("right.bmp", testing_bmp::greyBmp(16, 8, right));
    run = runTool(first + " " + second);
    EXPECT_EQ(run.output, "SSIM: 0.500050\n");
    EXPECT_EQ(run.status, 0);

    const std::string empty = greyFile("empty.bmp", 0, 0, 0);
    run = runTool(empty + " " + empty);
    EXPECT_EQ(run.output, "SSIM: nan\n");
    EXPECT_EQ(run.status, 0);
}

TEST(Tool, AResultThatCannotBeWrittenIsAFailure) {
    const std::string grey = greyFile("full.bmp", 8, 8, 5);
    const std::string command =
        std::string(LIKENESS_EXE) + " " + grey + " " + grey + " > /dev/full";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

// Hostile headers: sides beyond what an image can hold, colour counts beyond the palette, a large
// image announced with a few bytes given. Each is a refusal of the first file, and nothing worse.
TEST(Tool, HostileFilesAreRefusedCleanly) {
    auto layout = [](std::int32_t width, std::int32_t height, std::uint32_t bits) {
        testing_bmp::Layout result;
        result.width = width;
        result.height = height;
        result.bits = bits;
        result.palette = bits == 8 ? testing_bmp::greyPalette() : Bytes{};
        result.rows = Bytes(64, 3);
        return result;
    };
    testing_bmp::Layout core = layout(65535, 65535, 24);
    core.headerSize = 12;
    testing_bmp::Layout hugePalette = layout(8, 8, 8);
    hugePalette.coloursUsed = 0x12345678;
    const testing_bmp::Layout hostile[] = {
        core,
        layout(3000000, 2000000, 24),
        layout(8, INT32_MIN, 8),
        layout(-8, 8, 8),
        layout(40000, 40000, 8),
        layout(8, 40000, 24),
        hugePalette,
    };
    const std::string good = greyFile("hostile-good.bmp", 8, 8, 1);
    for (const testing_bmp::Layout& file : hostile) {
        const std::string path = testing_bmp::writeFile("hostile.bmp", testing_bmp::bmpBytes(file));
        ToolRun run = runTool(path + " " + good);
        EXPECT_EQ(run.output, shiftJIS("入力１の画像データが読めません"))
            << file.width << " x " << file.height;
        EXPECT_EQ(run.status, 1);
    }
}

// Whatever a file of the bmpsuite corpus holds, the tool ends with one of its refusals.
TEST(Tool, EveryBmpsuiteFileEndsInARefusal) {
    const std::string good = greyFile("suite-good.bmp", 8, 8, 1);
    const std::string unreadable = shiftJIS("入力２の画像データが読めません");
    const std::string monochrome = shiftJIS("このプログラムはモノクロのみ対応しています") + "\n";
    const std::string sizes =
        shiftJIS("２つの画像のサイズが合いません．同じサイズの画像を使って下さい");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             std::string(LIKENESS_TEST_DATA) + "/bmpsuite")) {
        if (entry.path().extension() != ".bmp") continue;
        ToolRun run = runTool(good + " " + entry.path().string());
        const bool refused = run.output == unreadable || run.output == monochrome ||
                             run.output.rfind(sizes + "\n(1)H:8, W:8 <=> (2)H:", 0) == 0;
        EXPECT_TRUE(refused) << entry.path() << ": " << run.output;
        EXPECT_EQ(run.status, 1) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, 60);
}

TEST(Map, RefusesAsTheToolDoesAndNeedsThreeNames) {
    const std::string good = greyFile("map-good.bmp", 8, 8, 1);
    ToolRun run = runMap(good + " " + good);
    EXPECT_EQ(run.output, shiftJIS("パラメータが足りません") + "\n" +
                              "likeness-map <read image file(1) name> <read image file(2) name> "
                              "<write map file name>\n");
    EXPECT_EQ(run.status, 1);

    const std::string odd = greyFile("map-odd.bmp", 12, 8, 0);
    const std::string map = testing_bmp::tempPath("refused-map.bmp");
    for (const std::string& pair : {odd + " " + odd, good + " " + odd, "missing.bmp " + good}) {
        ToolRun tool = runTool(pair);
        run = runMap(pair + " " + map);
        EXPECT_EQ(run.output, tool.output) << pair;
        EXPECT_EQ(run.status, 1);
    }
    EXPECT_FALSE(std::filesystem::exists(map));
}

TEST(Map, IsWhiteExceptWhereTheImagesDiffer) {
    // 24 x 16: six blocks, of which only the one at (8, 8) differs, 0 against 255.
    Bytes first(24 * 16);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::uint8_t>(i * 7 % 256);
    Bytes second = first;
    for (int y = 8; y < 16; ++y) {
        for (int x = 8; x < 16; ++x) first[y * 24 + x] = 0, second[y * 24 + x] = 255;
    }
    const std::string a = testing_bmp::writeFile("map-a.bmp", testing_bmp::greyBmp(24, 16, first));
    const std::string b = testing_bmp::writeFile("map-b.bmp", testing_bmp::greyBmp(24, 16, second));
    const std::string map = testing_bmp::tempPath("map.bmp");
    ToolRun run = runMap(a + " " + b + " " + map);
    EXPECT_EQ(run.output, runTool(a + " " + b).output);
    EXPECT_EQ(run.status, 0);

    // Grey palette written, then rows of 24 bytes (no filler), bottom row first.
    std::ifstream in(map, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 1078u + 24 * 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
            const int level = bytes[1078 + (15 - y) * 24 + x];
            const bool differs = x >= 8 && x < 16 && y >= 8;
            EXPECT_EQ(level, differs ? 0 : 255) << x << ", " << y;  // round(255 * 0.0001) is 0
        }
    }
}

TEST(Map, AMapThatCannotBeWrittenIsAFailure) {
    const std::string good = greyFile("map-unwritable.bmp", 8, 8, 1);
    ToolRun run = runMap(good + " " + good + " /nonexistent/folder/map.bmp");
    EXPECT_EQ(run.output, "SSIM: 1.000000\n" + shiftJIS("出力画像が書き込めません") + "\n");
    EXPECT_EQ(run.status, 1);
}

}  // namespace
