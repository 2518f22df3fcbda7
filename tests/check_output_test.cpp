// likeness-check's command line and the records as it writes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "likeness-check/compare.h"
#include "likeness-check/options.h"
#include "likeness-check/output.h"
#include "test_files.h"

namespace likeness::check {
namespace {

// What parseOptions makes of the words after the program's name.
std::string parse(std::vector<std::string> words, Options* options) {
    words.insert(words.begin(), "likeness-check");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    return parseOptions(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(ParseOptions, TakesValuesEitherWayAndStopsAtTheFirstPath) {
    Options options;
    EXPECT_EQ(parse({"--min-mean=0.9", "--jobs", "3", "--format", "csv", "--luma", "--maps", "m",
                     "--all-maps", "-", "--junit", "-x"},
                    &options),
              "");
    EXPECT_EQ(options.settings.thresholds.minMean, 0.9);
    EXPECT_FALSE(options.settings.thresholds.minBlock);
    EXPECT_EQ(options.jobs, 3u);
    EXPECT_EQ(options.format, Format::kCsv);
    EXPECT_TRUE(options.settings.luma && options.settings.allMaps);
    // "-" is the first path; what follows it is paths too, dashes and all.
    EXPECT_EQ(options.paths, (std::vector<std::string>{"-", "--junit", "-x"}));
    Options ended;
    EXPECT_EQ(parse({"--min-block", "-0.5", "--", "--luma", "b"}, &ended), "");
    EXPECT_EQ(ended.settings.thresholds.minBlock, -0.5);
    EXPECT_EQ(ended.paths, (std::vector<std::string>{"--luma", "b"}));
    // Every picture to its own folder; --all-maps goes with difference pictures alone too.
    Options shown;
    EXPECT_EQ(parse({"--diffs=d", "--html", "h", "--all-maps", "a", "b"}, &shown), "");
    EXPECT_EQ(shown.settings.diffs, "d");
    EXPECT_EQ(shown.settings.html, "h");
    EXPECT_TRUE(shown.settings.maps.empty() && shown.settings.allMaps);
}

TEST(ParseOptions, TakesRectanglesMasksAndColour) {
    Options options;
    EXPECT_EQ(parse({"--ignore", "0,0,1,1", "--colour", "--ignore=2147483647,7,8,2147483647",
                     "--mask", "m.png", "a", "b"},
                    &options),
              "");
    ASSERT_EQ(options.settings.ignore.size(), 2u);
    const Rectangle& second = options.settings.ignore[1];
    EXPECT_EQ(std::vector({second.x, second.y, second.width, second.height}),
              std::vector({2147483647, 7, 8, 2147483647}));
    EXPECT_EQ(options.settings.ignore[0].width, 1);
    EXPECT_TRUE(options.settings.colour);
    EXPECT_EQ(options.mask, "m.png");
    // Strict: four decimal numbers, sides at least 1, no sign, no space, nothing after.
    for (const char* bad :
         {"0,0,0,1", "0,0,1,0", "-1,0,1,1", "+1,0,1,1", "0,0,1", "0,0,1,1,", "0,0,1,1,1", "0,,1,1",
          " 0,0,1,1", "0,0,1,1 ", "0x1,0,1,1", "0,0,2147483648,1", "0,0,99999999999,1", ""}) {
        Options refused;
        EXPECT_NE(parse({"--ignore", bad, "a", "b"}, &refused), "") << bad;
    }
    Options both;
    EXPECT_EQ(parse({"--colour", "--luma", "a", "b"}, &both),
              "--colour and --luma exclude each other");
}

TEST(ParseOptions, RefusesBadValuesAndUnknownOptions) {
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"--min-mean", "0.9x"},
                                               {"--min-mean", "nan"},
                                               {"--min-block", "inf"},
                                               {"--min-mean="},
                                               {"--jobs", "0"},
                                               {"--jobs", "1025"},
                                               {"--jobs", "-1"},
                                               {"--jobs", "2.5"},
                                               {"--format", "xml"},
                                               {"--luma=1"},
                                               {"--lumen"},
                                               {"-j"},
                                               {"--maps"},
                                               {"--all-maps", "a", "b"},
                                               {"--html", "h", "--all-maps", "a", "b"},
                                               {"--diffs=", "a", "b"},
                                               {"--html"}}) {
        Options options;
        EXPECT_NE(parse(words, &options), "") << words[0];
    }
}

// What writeRecord writes for the record, in the format.
std::string written(Format format, const Record& record) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    writeRecord(out, format, record);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

Record compared() {
    Record record;
    record.first = "a,\"b\".png";
    record.second = "c\r\xff.png";
    // A mean whose shortest decimal has 15 digits, where a 17-digit one also reads back.
    record.mean = 0.468295022370149;
    record.blocks = 12;
    record.worst = -0.25;
    record.worstX = 16;
    record.worstY = 8;
    record.below = 2;
    record.map = "maps/000001-c.png";
    record.diff = "diffs/000001-c.png";
    record.metric = Metric::kWangScaled;
    return record;
}

TEST(WriteRecord, WritesEachFormatsFieldsAndTheShortestMean) {
    EXPECT_EQ(written(Format::kJson, compared()),
              "{\"first\":\"a,\\\"b\\\".png\",\"second\":\"c\\r\xEF\xBF\xBD.png\","
              "\"metric\":\"wang-scaled\",\"ssim\":0.468295022370149,\"channels\":null,\"blocks\":"
              "12,\"ignored\":0,"
              "\"worst\":{\"x\":16,\"y\":8,"
              "\"ssim\":-0.25},\"below\":2,\"pass\":false,\"map\":\"maps/000001-c.png\","
              "\"diff\":\"diffs/000001-c.png\",\"error\":null,\"code\":null}\n");
    EXPECT_EQ(written(Format::kCsv, compared()),
              "\"a,\"\"b\"\".png\",\"c\r\xEF\xBF\xBD.png\",wang-scaled,0.468295022370149,,,,12,0,"
              "16,8,-0.25,2,"
              "false,maps/000001-c.png,diffs/000001-c.png,,\r\n");
    EXPECT_EQ(written(Format::kText, compared()),
              "FAIL   0.468295      12 -0.250000 16,8            2  a,\"b\".png  c\r\xff.png  map "
              "maps/000001-c.png  diff diffs/000001-c.png\n");
    Record unread;
    unread.first = "f";
    unread.second = "s";
    unread.problem = Problem::kCannotReadSecond;
    unread.code = -30;
    EXPECT_EQ(written(Format::kCsv, unread),
              "f,s,blocks,,,,,,,,,,,false,,,cannot read second,-30\r\n");
    EXPECT_EQ(written(Format::kText, unread),
              "ERROR cannot read second (code -30)" + std::string(18, ' ') + "f  s\n");
    // A compared pair without blocks has no mean and no worst block.
    Record empty;
    empty.first = "e";
    empty.second = "f";
    empty.pass = true;
    EXPECT_EQ(
        written(Format::kJson, empty),
        "{\"first\":\"e\",\"second\":\"f\",\"metric\":\"blocks\",\"ssim\":null,\"channels\":null,"
        "\"blocks\":0,"
        "\"ignored\":0,\"worst\":null,"
        "\"below\":0,\"pass\":true,\"map\":null,\"diff\":null,\"error\":null,\"code\":null}\n");
    EXPECT_EQ(written(Format::kCsv, empty), "e,f,blocks,,,,,0,0,,,,0,true,,,,\r\n");
    unread.problem = Problem::kNotDivisible;
    EXPECT_EQ(written(Format::kJson, unread),
              "{\"first\":\"f\",\"second\":\"s\",\"metric\":\"blocks\",\"ssim\":null,\"channels\":"
              "null,\"blocks\":null,"
              "\"ignored\":null,\"worst\":null,"
              "\"below\":null,\"pass\":false,\"map\":null,\"diff\":null,\"error\":\"not "
              "divisible\",\"code\":null}\n");
    unread.problem = Problem::kTooSmall;
    unread.metric = Metric::kFFmpeg;
    EXPECT_EQ(written(Format::kCsv, unread), "f,s,ffmpeg,,,,,,,,,,,false,,,too small,\r\n");
}

TEST(WriteRecord, GivesEachChannelsMeanAndTheBlocksIgnored) {
    Record record = compared();
    record.channels = {0.5, 0.25, 1};
    record.ignored = 3;
    record.map.clear();
    record.diff.clear();
    EXPECT_EQ(
        written(Format::kJson, record),
        "{\"first\":\"a,\\\"b\\\".png\",\"second\":\"c\\r\xEF\xBF\xBD.png\","
        "\"metric\":\"wang-scaled\",\"ssim\":0.468295022370149,\"channels\":{\"r\":0.5,\"g\":0.25,"
        "\"b\":1},"
        "\"blocks\":12,\"ignored\":3,\"worst\":{\"x\":16,\"y\":8,\"ssim\":-0.25},"
        "\"below\":2,\"pass\":false,\"map\":null,\"diff\":null,\"error\":null,\"code\":null}\n");
    EXPECT_EQ(written(Format::kCsv, record),
              "\"a,\"\"b\"\".png\",\"c\r\xEF\xBF\xBD.png\",wang-scaled,0.468295022370149,0.5,0.25,"
              "1,12,3,16,8,"
              "-0.25,2,false,,,,\r\n");
    EXPECT_EQ(
        written(Format::kText, record),
        "FAIL   0.468295      12 -0.250000 16,8            2  a,\"b\".png  c\r\xff.png  ignored 3"
        "  r 0.500000 g 0.250000 b 1.000000\n");
    // A mask that cannot be read carries the reader's code.
    record.problem = Problem::kCannotReadMask;
    record.code = -10;
    EXPECT_EQ(written(Format::kCsv, record),
              "\"a,\"\"b\"\".png\",\"c\r\xEF\xBF\xBD.png\",wang-scaled,,,,,,,,,,,false,,,cannot "
              "read mask,-10\r\n");
}

TEST(ComparePair, NamesTheSideThatFailedAndEachMapApart) {
    const Loaded broken{nullptr, kBadHeader};
    const Record record =
        comparePair({"x", test_files::dataPath("crafted/grey8x8.bmp")}, 0, &broken, {});
    EXPECT_EQ(problemText(record), "cannot read first (code -10)");
    // A map that cannot be written is told apart from one that was not due.
    Settings settings;
    settings.maps = test_files::scratchPath("no/such/folder");
    settings.allMaps = true;
    const std::string grey = test_files::dataPath("crafted/blocks-first.bmp");
    const Record unmapped = comparePair({grey, grey}, 0, nullptr, settings);
    EXPECT_TRUE(unmapped.pass && unmapped.map.empty());
    EXPECT_EQ(unmapped.unwritten,
              std::vector<std::string>{settings.maps + "/000001-blocks-first.bmp.png"});
    // Names stay inside the folder and differ by the pair's number.
    EXPECT_EQ(mapPath("m", 0, "../../etc/passwd"), "m/000001-passwd.png");
    EXPECT_EQ(mapPath("m", 41, "dir/a b\xff.bmp"), "m/000042-a_b_.bmp.png");
}

}  // namespace
}  // namespace likeness::check
