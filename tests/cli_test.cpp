// Runs the built programs and checks their output bytes, exit status and maps.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

#include "test_files.h"

namespace {

// What a program wrote to its standard output, and its exit status.
using Outcome = std::pair<std::string, int>;

Outcome run(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    for (int c; (c = std::fgetc(pipe)) != EOF;) output += static_cast<char>(c);
    const int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The Shift_JIS bytes of a UTF-8 text, converted by iconv rather than copied from the program.
std::string shiftJIS(const std::string& text) {
    return run("printf %s '" + text + "' | iconv -f UTF-8 -t CP932").first;
}

// Two crafted BMP files, named without their extension, as arguments.
std::string pair(const std::string& first, const std::string& second) {
    return test_files::dataPath("crafted/" + first + ".bmp") + " " +
           test_files::dataPath("crafted/" + second + ".bmp");
}

std::string written(const std::string& name) {
    return test_files::dataPath("written/" + name);
}

const std::string kTool = LIKENESS_EXE;
const std::string kMap = LIKENESS_MAP_EXE;
const std::string kSizes = "２つの画像のサイズが合いません．同じサイズの画像を使って下さい\n";
const std::string kBlockSize = "画像のサイズが小領域サイズ 8 で割り切れません";
const std::string kBlocks = pair("blocks-first", "blocks-second");
const std::string kSecond = test_files::dataPath("crafted/blocks-second.bmp");
// The same pair as PNG and PGM files.
const std::string kFromPNG = test_files::dataPath("written/blocks-first.png") + " " +
                             test_files::dataPath("written/blocks-second.pgm");

// Every row of the message table, and results, byte for byte, from both programs.
TEST(Tool, SaysExactlyWhatTheSituationCallsFor) {
    const std::string grey = test_files::dataPath("crafted/grey8x8.bmp");
    const struct {
        std::string arguments;
        std::string output;  // UTF-8, as a reader sees it
        int status;
    } cases[] = {
        {grey,
         "パラメータが足りません\nlikeness <read image file(1) name> <read image file(2) name>\n",
         1},
        {"missing.bmp missing.bmp", "入力１の画像データが読めません", 1},
        {pair("cut-in-filler", "grey8x8"), "入力１の画像データが読めません", 1},
        {pair("grey8x8", "signature-ba"), "入力２の画像データが読めません", 1},
        {pair("grey16x8", "colour16x16"), "このプログラムはモノクロのみ対応しています\n", 1},
        // Heights differ; widths alone differ: the numbers go image by image.
        {pair("grey16x8", "grey8x16"), kSizes + "(1)H:8, W:16 <=> (2)H:16, W:8\n", 1},
        {pair("grey8x16", "blocks-first"), kSizes + "(1)H:16, W:8 <=> (2)H:16, W:24\n", 1},
        {pair("grey12x8", "grey12x8"), kBlockSize + "(H:8, W:12)\n", 1},
        {pair("grey8x12", "grey8x12"), kBlockSize + "(H:12, W:8)\n", 1},
        // likeness-map takes a further name as its map: it goes to the scratch folder.
        {pair("grey8x8", "grey8x8") + " " + test_files::scratchPath("ignored.bmp"),
         "SSIM: 1.000000\n", 0},
        // 3 x 2 blocks scoring 1, 0.99899, -0.97161, 0.01571, 0.80246, 0.96977 (worked out apart
        // from this program).
        {kBlocks, "SSIM: 0.469219\n", 0},
        // Black against level 1: C1 / (1 + C1), all from C1 = 6.5025.
        {pair("black8x8", "grey8x8"), "SSIM: 0.866711\n", 0},
        // The first as a 24-bit file of grey pixels: compared as its 8-bit twin.
        {pair("blocks-first-24bit", "blocks-second"), "SSIM: 0.469219\n", 0},
        {kFromPNG, "SSIM: 0.469219\n", 0},
        {pair("grey0x0", "grey0x0"), "SSIM: nan\n", 0},
        {pair("grey8x0", "grey8x0"), "SSIM: nan\n", 0},
        // A colour JPEG file: colour once decoded.
        {written("cjpeg-colour37x21.jpg") + " " + written("pil-grey-blocks-first.jpg"),
         "このプログラムはモノクロのみ対応しています\n", 1},
        // The first as colour JPEG files of a grey picture, against the second, then the second
        // against them: each as the grey JPEG file of the same picture (worked out apart from
        // this program, from Pillow's decoding).
        {written("pil-rgb-blocks-first.jpg") + " " + kSecond, "SSIM: 0.463060\n", 0},
        {kSecond + " " + written("pil-grey-blocks-first.jpg"), "SSIM: 0.463060\n", 0},
        {kSecond + " " + written("im-rgb-blocks-first.jpg"), "SSIM: 0.468790\n", 0},
        {written("im-grey-blocks-first.jpg") + " " + kSecond, "SSIM: 0.468790\n", 0},
    };
    for (const auto& [arguments, output, status] : cases) {
        const Outcome result = run(kTool + " " + arguments);
        EXPECT_EQ(result, Outcome(shiftJIS(output), status)) << arguments;
        if (arguments == grey) continue;  // likeness-map's usage line is its own
        const std::string map = test_files::scratchPath("checked.bmp");
        EXPECT_EQ(run(kMap + " " + arguments + " " + map), result) << arguments;
    }
    // The first as 24-bit BMP and RGB and RGBA PNG files of grey pixels, as ImageMagick and Pillow
    // write them, first and second: each is compared as its 8-bit twin.
    for (const char* name :
         {"im-truecolour-blocks-first.bmp", "pil-rgb-blocks-first.bmp", "im-rgb-blocks-first.png",
          "im-rgba-blocks-first.png", "pil-rgb-blocks-first.png", "pil-rgba-blocks-first.png"}) {
        EXPECT_EQ(run(kTool + " " + written(name) + " " + kSecond).first, "SSIM: 0.469219\n");
        EXPECT_EQ(run(kTool + " " + kSecond + " " + written(name)).first, "SSIM: 0.469219\n");
    }
    // A JPEG file from a pipe, which cannot seek.
    EXPECT_EQ(
        run("cat " + written("im-rgb-blocks-first.jpg") + " | " + kTool + " /dev/stdin " + kSecond),
        Outcome("SSIM: 0.468790\n", 0));
    // LIKENESS_MAX_PIXELS sets the ceiling on compressed pictures (the PNG and JPEG files have 384
    // pixels); a value that is not a plain number keeps the default.
    const std::string fromJPEG = written("pil-grey-blocks-first.jpg") + " " + kSecond;
    for (auto [value, png, jpeg] :
         {std::tuple{"383", "入力１の画像データが読めません", "入力１の画像データが読めません"},
          {"384", "SSIM: 0.469219\n", "SSIM: 0.463060\n"},
          {"383x", "SSIM: 0.469219\n", "SSIM: 0.463060\n"}}) {
        const std::string limited = "LIKENESS_MAX_PIXELS=" + std::string(value) + " " + kTool + " ";
        EXPECT_EQ(run(limited + kFromPNG).first, shiftJIS(png)) << value;
        EXPECT_EQ(run(limited + fromJPEG).first, shiftJIS(jpeg)) << value;
    }
    // A result that cannot be written is a failure.
    const std::string map = test_files::scratchPath("unreported.bmp");
    for (const std::string& command : {kTool + " " + kBlocks, kMap + " " + kBlocks + " " + map}) {
        EXPECT_EQ(run(command + " > /dev/full").second, 1) << command;
    }
}

// Each block of the map has the grey level round(255 s) of its score s, clamped to 0..1.
TEST(Map, DrawsEachBlockWithTheLevelOfItsScore) {
    const std::string map = test_files::scratchPath("map.bmp");
    ASSERT_EQ(run(kMap + " " + kBlocks + " " + map).second, 0);
    const test_files::Bytes bytes = test_files::readBytes(map);
    const int levels[2][3] = {{4, 205, 247}, {255, 255, 0}};  // bottom block row first
    ASSERT_EQ(bytes.size(), 1078u + 24 * 16);
    for (std::size_t i = 0; i < 24 * 16; ++i)
        ASSERT_EQ(bytes[1078 + i], levels[i / 24 / 8][i % 24 / 8]) << "pixel byte " << i;
    EXPECT_EQ(run(kMap + " " + kBlocks).first,
              shiftJIS("パラメータが足りません\nlikeness-map <read image file(1) name> "
                       "<read image file(2) name> <write map file name>\n"));
    EXPECT_EQ(run(kMap + " " + kBlocks + " /nonexistent/map.bmp"),
              Outcome(shiftJIS("SSIM: 0.469219\n出力画像が書き込めません\n"), 1));
}

}  // namespace
