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
                                               {"--all-maps", "a", "b"}}) {
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
    record.metric = Metric::kWangScaled;
    return record;
}

TEST(WriteRecord, WritesEachFormatsFieldsAndTheShortestMean) {
    EXPECT_EQ(written(Format::kJson, compared()),
              "{\"first\":\"a,\\\"b\\\".png\",\"second\":\"c\\r\xEF\xBF\xBD.png\","
              "\"metric\":\"wang-scaled\",\"ssim\":0.468295022370149,\"blocks\":12,\"worst\":{\"x\":16,\"y\":8,"
              "\"ssim\":-0.25},\"below\":2,\"pass\":false,\"map\":\"maps/000001-c.png\","
              "\"error\":null,\"code\":null}\n");
    EXPECT_EQ(written(Format::kCsv, compared()),
              "\"a,\"\"b\"\".png\",\"c\r\xEF\xBF\xBD.png\",wang-scaled,0.468295022370149,12,16,8,-0.25,2,false,"
              "maps/000001-c.png,,\r\n");
    EXPECT_EQ(written(Format::kText, compared()),
              "FAIL   0.468295      12 -0.250000 16,8            2  a,\"b\".png  c\r\xff.png  map "
              "maps/000001-c.png\n");
    Record unread;
    unread.first = "f";
    unread.second = "s";
    unread.problem = Problem::kCannotReadSecond;
    unread.code = -30;
    EXPECT_EQ(written(Format::kCsv, unread), "f,s,blocks,,,,,,,false,,cannot read second,-30\r\n");
    EXPECT_EQ(written(Format::kText, unread),
              "ERROR cannot read second (code -30)" + std::string(18, ' ') + "f  s\n");
    // A compared pair without blocks has no mean and no worst block.
    Record empty;
    empty.first = "e";
    empty.second = "f";
    empty.pass = true;
    EXPECT_EQ(written(Format::kJson, empty),
              "{\"first\":\"e\",\"second\":\"f\",\"metric\":\"blocks\",\"ssim\":null,\"blocks\":0,\"worst\":null,"
              "\"below\":0,\"pass\":true,\"map\":null,\"error\":null,\"code\":null}\n");
    EXPECT_EQ(written(Format::kCsv, empty), "e,f,blocks,,0,,,,0,true,,,\r\n");
    unread.problem = Problem::kNotDivisible;
    EXPECT_EQ(written(Format::kJson, unread),
              "{\"first\":\"f\",\"second\":\"s\",\"metric\":\"blocks\",\"ssim\":null,"
              "\"blocks\":null,\"worst\":null,\"below\":null,\"pass\":false,\"map\":null,"
              "\"error\":\"not divisible\",\"code\":null}\n");
    unread.problem = Problem::kTooSmall;
    unread.metric = Metric::kFFmpeg;
    EXPECT_EQ(written(Format::kCsv, unread), "f,s,ffmpeg,,,,,,,false,,too small,\r\n");
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
    EXPECT_TRUE(unmapped.pass && unmapped.mapFailed && unmapped.map.empty());
    // Names stay inside the folder and differ by the pair's number.
    EXPECT_EQ(mapPath("m", 0, "../../etc/passwd"), "m/000001-passwd.png");
    EXPECT_EQ(mapPath("m", 41, "dir/a b\xff.bmp"), "m/000042-a_b_.bmp.png");
}

}  // namespace
}  // namespace likeness::check
