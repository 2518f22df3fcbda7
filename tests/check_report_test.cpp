// What likeness-check shows a reviewer: the difference picture, the HTML report and the progress
// line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "likeness-check/compare.h"
#include "likeness-check/difference.h"
#include "likeness-check/output.h"
#include "likeness-check/progress.h"
#include "likeness/engine.h"
#include "likeness/image_file.h"
#include "likeness/read_result.h"
#include "test_files.h"

namespace likeness::check {
namespace {

struct Rgb {
    int r, g, b;
    bool grey() const { return r == g && g == b; }
};

Rgb at(const Image& drawing, int x, int y) {
    const std::uint8_t* p = drawing.data + 3 * (static_cast<std::size_t>(y) * drawing.width + x);
    return {p[0], p[1], p[2]};
}

// A grey picture of the size whose level at (x, y) is level(x, y).
template <typename Level>
ImagePtr greyPicture(int width, int height, int depth, Level level) {
    ImagePtr picture(createImage(width, height, depth));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = level(x, y);
            const Pixel pixel{v, v, v};
            setPixel(picture.get(), x, y, &pixel);
        }
    return picture;
}

TEST(DrawDifference, TintsTheBlocksBelowTheBoundTheMoreTheLowerAndOutlinesTheWorst) {
    const ImagePtr second = greyPicture(16, 16, 8, [](int x, int y) { return 10 * x + y; });
    const std::vector<double> scores{1.0, 0.2, 0.9, 0.5};
    const ImagePtr drawing =
        drawDifference(*second, windowsOf(Metric::kBlocks, 16, 16), scores, 0.6, 1);
    ASSERT_TRUE(drawing && drawing->depth == 24 && drawing->width == 16 && drawing->height == 16);
    // Passing blocks: the level lightened, equal in red, green and blue; black (0) becomes 153.
    EXPECT_EQ(at(*drawing, 0, 0).r, 153);
    EXPECT_EQ(at(*drawing, 7, 7).r, 255 - ((255 - 77) * 2 + 2) / 5);
    for (const auto& [x, y] : {std::pair{0, 0}, {7, 7}, {3, 12}})
        EXPECT_TRUE(at(*drawing, x, y).grey()) << x << "," << y;
    // The worst block's border is black, its inside as red as the lowest score makes it.
    for (const auto& [x, y] : {std::pair{8, 0}, {15, 7}, {8, 5}, {12, 7}})
        EXPECT_EQ(at(*drawing, x, y).r + at(*drawing, x, y).g, 0) << x << "," << y;
    const Rgb worst = at(*drawing, 10, 3);
    const Rgb milder = at(*drawing, 10, 11);
    EXPECT_TRUE(worst.r > worst.g && worst.g == worst.b);
    EXPECT_TRUE(milder.r > milder.g && milder.g == milder.b);
    EXPECT_GT(worst.r - worst.g, milder.r - milder.g);
    EXPECT_TRUE(at(*drawing, 9, 9).grey() == false && at(*drawing, 9, 1).grey() == false);
    // Without a bound the worst block alone is tinted.
    const ImagePtr alone =
        drawDifference(*second, windowsOf(Metric::kBlocks, 16, 16), scores, {}, 1);
    EXPECT_FALSE(at(*alone, 10, 3).grey());
    EXPECT_TRUE(at(*alone, 10, 11).grey());
}

TEST(DrawDifference, DrawsColourByItsLumaAndAnyGridOfWindows) {
    // A colour picture is drawn by its luma, as the grey picture of those levels would be.
    ImagePtr colour(createImage(16, 8, 24));
    const Pixel red{200, 40, 90};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) setPixel(colour.get(), x, y, &red);
    const int luma = (299 * 200 + 587 * 40 + 114 * 90 + 500) / 1000;
    const ImagePtr grey = greyPicture(16, 8, 8, [luma](int, int) { return luma; });
    const std::vector<double> scores{0.9, 0.95};
    const ImagePtr fromColour =
        drawDifference(*colour, windowsOf(Metric::kBlocks, 16, 8), scores, {}, 0);
    const ImagePtr fromGrey =
        drawDifference(*grey, windowsOf(Metric::kBlocks, 16, 8), scores, {}, 0);
    ASSERT_TRUE(fromColour && fromGrey);
    EXPECT_EQ(0, std::memcmp(fromColour->data, fromGrey->data, 16 * 8 * 3));
    // Windows 8 wide, 4 apart, overlap: a pixel in two that fell short takes the lower's tint,
    // whichever comes first; a window left out (not a number) tints nothing.
    const ImagePtr flat = greyPicture(16, 8, 8, [](int, int) { return 100; });
    const Windows overlapping{3, 1, 4, 8, 0};
    const ImagePtr drawn = drawDifference(*flat, overlapping, {0.1, 0.5, std::nan("")}, 0.6, 0);
    ASSERT_TRUE(drawn);
    const Rgb lowest = at(*drawn, 2, 3), both = at(*drawn, 6, 3), higher = at(*drawn, 10, 3),
              none = at(*drawn, 14, 3);
    EXPECT_TRUE(lowest.r == both.r && both.r > higher.r && higher.r > higher.g && none.grey());
    // A grid that does not fit the picture, or scores that do not fit the grid, draw nothing.
    EXPECT_FALSE(drawDifference(*flat, {4, 1, 4, 8}, {1, 1, 1, 1}, {}, 0));
    EXPECT_FALSE(drawDifference(*flat, overlapping, {1, 1}, {}, 0));
}

ImagePtr readPicture(const std::string& path) {
    Image* image = nullptr;
    EXPECT_EQ(readImageFile(path.c_str(), &image), kReadOk) << path;
    return ImagePtr(image);
}

bool samePixels(const Image& a, const Image& b) {
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           std::memcmp(a.data, b.data, a.depth / 8 * a.width * a.height) == 0;
}

TEST(ComparePair, DrawsTheDifferenceOnTheSecondPictureAndCopiesBothForTheReport) {
    const std::string first = test_files::dataPath("crafted/blocks-first.bmp");
    const std::string second = test_files::dataPath("crafted/blocks-second.bmp");
    Settings settings;
    settings.thresholds.minBlock = 0.5;
    settings.diffs = test_files::scratchPath("diffs");
    settings.html = test_files::scratchPath("html");
    std::filesystem::create_directories(settings.diffs);
    std::filesystem::create_directories(settings.html);
    const Record record = comparePair({first, second}, 6, nullptr, settings);
    ASSERT_EQ(record.diff, settings.diffs + "/000007-blocks-second.bmp-diff.png");
    ASSERT_EQ(record.shown, "000007-blocks-second.bmp");
    // What the engine scored, drawn on the second picture with the bound and the worst block.
    CompareOptions options;
    options.blockScores = true;
    const Comparison scored =
        compare(fileSource(first.c_str()), fileSource(second.c_str()), options);
    const ImagePtr secondPicture = readPicture(second);
    const ImagePtr expected =
        drawDifference(*secondPicture, windowsOf(Metric::kBlocks, 24, 16), scored.scores, 0.5,
                       windowAt(windowsOf(Metric::kBlocks, 24, 16), 16, 0));
    EXPECT_TRUE(samePixels(*readPicture(record.diff), *expected));
    const std::string shown = settings.html + "/" + record.shown;
    EXPECT_TRUE(samePixels(*readPicture(shown + "-diff.png"), *expected));
    EXPECT_TRUE(samePixels(*readPicture(shown + "-second.png"), *secondPicture));
    EXPECT_TRUE(samePixels(*readPicture(shown + "-first.png"), *readPicture(first)));
    // A pair that passes has no pictures unless every pair is to have them.
    EXPECT_TRUE(comparePair({first, first}, 0, nullptr, settings).diff.empty());
    settings.allMaps = true;
    const Record passed = comparePair({first, first}, 0, nullptr, settings);
    EXPECT_FALSE(passed.diff.empty());
    EXPECT_TRUE(passed.shown.empty());
}

Record failing(const std::string& second, double worst) {
    Record r;
    r.first = "expected/" + second;
    r.second = "rendered/" + second;
    r.mean = 0.9;
    r.blocks = 4;
    r.worst = worst;
    r.worstX = 8;
    r.below = 1;
    r.width = r.height = 16;
    r.windowSize = 8;
    r.shown = "00000" + std::to_string(static_cast<int>(worst * 10)) + "-" + second;
    return r;
}

std::string htmlOf(const std::vector<Record>& records, const Tally& tally) {
    const std::string folder = test_files::scratchPath("report");
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(writeHtml(folder, records, tally, {{}, 0.75}));
    const test_files::Bytes bytes = test_files::readBytes(folder + "/index.html");
    return std::string(bytes.begin(), bytes.end());
}

TEST(WriteHtml, PutsTheWorstFailureFirstAndEscapesEveryPath) {
    Record passed = failing("ok.png", 0.99);
    passed.pass = true;
    passed.shown.clear();
    Record broken;
    broken.first = "a<b>&\"c\".png";
    broken.second = "bad \xff.png";
    broken.problem = Problem::kCannotReadSecond;
    broken.code = -2;
    const std::vector<Record> records{passed, failing("mild.png", 0.5), broken,
                                      failing("worse.png", 0.2)};
    Tally tally;
    for (const Record& r : records) tally.count(r);
    const std::string html = htmlOf(records, tally);
    EXPECT_NE(html.find("4 pairs: 1 passed, 2 failed, 1 not compared. Thresholds: mean at least "
                        "none, every block at least 0.75."),
              std::string::npos);
    const auto where = [&html](const std::string& text) { return html.find(text); };
    EXPECT_LT(where("rendered/worse.png"), where("rendered/mild.png"));
    EXPECT_LT(where("rendered/mild.png"), where("cannot read second (code -2)"));
    EXPECT_LT(where("cannot read second (code -2)"), where("rendered/ok.png"));
    EXPECT_NE(where("a&lt;b&gt;&amp;&quot;c&quot;.png"), std::string::npos);
    EXPECT_NE(where("bad \xEF\xBF\xBD.png"), std::string::npos);
    EXPECT_EQ(where("<b>"), std::string::npos);
    // Each failed pair's pictures, by relative names, the worst block marked where it lies.
    EXPECT_NE(where("src=\"000002-worse.png-diff.png\""), std::string::npos);
    EXPECT_NE(where("data-second=\"000005-mild.png-second.png\""), std::string::npos);
    EXPECT_NE(where("left:50.0000%;top:0.0000%;width:50.0000%;height:50.0000%"), std::string::npos);
    EXPECT_EQ(where("src=\"http"), std::string::npos);
    EXPECT_EQ(where("ok.png-first.png"), std::string::npos);
}

TEST(WriteJUnit, AttachesTheDifferencePictureElseTheMap) {
    Record mapped = failing("mapped.png", 0.5);
    mapped.map = "maps/1.png";
    Record drawn = mapped;
    drawn.diff = "diffs/1 & 2.png";
    const std::string path = test_files::scratchPath("attached.xml");
    Tally tally;
    tally.failed = 2;
    ASSERT_TRUE(writeJUnit(path, {mapped, drawn}, tally));
    const test_files::Bytes bytes = test_files::readBytes(path);
    const std::string xml(bytes.begin(), bytes.end());
    const auto first = xml.find("<system-out>[[ATTACHMENT|maps/1.png]]</system-out>");
    EXPECT_NE(first, std::string::npos);
    const auto second = xml.find("<system-out>[[ATTACHMENT|diffs/1 &amp; 2.png]]</system-out>");
    EXPECT_TRUE(second != std::string::npos && second > first);
}

std::string progressOf(std::size_t total, const std::vector<int>& milliseconds, bool clear) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    const Progress::Clock::time_point start{};
    Progress progress(out, total, start);
    for (int ms : milliseconds) progress.step(start + std::chrono::milliseconds(ms));
    if (clear) progress.clear();
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(Progress, RewritesOneLineAtMostTenTimesASecondAndClearsIt) {
    // The first pair, then none within a tenth of a second of the last drawn, then the last.
    EXPECT_EQ(progressOf(4, {500, 550, 700, 720}, true),
              "\rlikeness-check: 1 of 4 pairs, 2.0 pairs/s\033[K"
              "\rlikeness-check: 3 of 4 pairs, 4.3 pairs/s\033[K"
              "\rlikeness-check: 4 of 4 pairs, 5.6 pairs/s\033[K\r\033[K");
    EXPECT_EQ(progressOf(0, {0, 2000}, false),
              "\rlikeness-check: 1 pairs\033[K\rlikeness-check: 2 pairs, 1.0 pairs/s\033[K");
    // Nothing drawn, nothing to clear.
    EXPECT_EQ(progressOf(3, {}, true), "");
}

}  // namespace
}  // namespace likeness::check
