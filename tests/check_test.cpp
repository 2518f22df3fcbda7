// likeness-check's parts: the verdict, where pairs come from, reading, and the job runner.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "likeness-check/compare.h"
#include "likeness-check/pairs.h"
#include "likeness-check/runner.h"
#include "likeness/bmp.h"
#include "likeness/read_result.h"
#include "test_files.h"

namespace likeness::check {
namespace {

// Scores of three columns of blocks, some of them left out.
Record judged(double mean, const std::vector<double>& scores, Thresholds thresholds,
              const std::vector<bool>& leftOut = {}) {
    Comparison comparison;
    comparison.mean = mean;
    comparison.scores = scores;
    comparison.leftOut = leftOut;
    comparison.ignored = static_cast<std::size_t>(std::count(leftOut.begin(), leftOut.end(), true));
    comparison.windows = windowsOf(Metric::kBlocks, 24, static_cast<int>(scores.size() / 3 * 8));
    Record record;
    judge(comparison, thresholds, &record);
    return record;
}

TEST(Judge, PassesOnlyWhenEveryBoundIsMetAndNamesTheFirstWorstBlock) {
    // Three columns of blocks; 0.5 is the lowest twice, first at the second block of the top row.
    const std::vector<double> scores{0.9, 0.5, 0.7, 0.5, 0.95, 1.0};
    const Record free = judged(0.758, scores, {});
    EXPECT_TRUE(free.pass);
    EXPECT_EQ(free.worst, 0.5);
    EXPECT_EQ(free.worstX, 8);
    EXPECT_EQ(free.worstY, 0);
    EXPECT_EQ(free.blocks, 6u);
    // (min mean, min block, passes, blocks below): bounds are inclusive.
    const struct {
        std::optional<double> minMean, minBlock;
        bool pass;
        std::size_t below;
    } cases[] = {{0.758, {}, true, 0}, {0.7581, {}, false, 0}, {{}, 0.5, true, 0},
                 {{}, 0.75, false, 3}, {0.5, 0.95, false, 4},  {0.9, 0.1, false, 0}};
    for (const auto& c : cases) {
        const Record record = judged(0.758, scores, {c.minMean, c.minBlock});
        EXPECT_EQ(record.pass, c.pass) << c.minMean.value_or(-9) << " " << c.minBlock.value_or(-9);
        EXPECT_EQ(record.below, c.below) << c.minBlock.value_or(-9);
    }
    // Without blocks the mean is not a number: it passes no bound on the mean.
    EXPECT_TRUE(judged(std::nan(""), {}, {{}, 0.9}).pass);
    EXPECT_FALSE(judged(std::nan(""), {}, {0.0, {}}).pass);
    // Blocks left out are neither the worst nor below the bound.
    const Record ignoring =
        judged(0.9, scores, {{}, 0.75}, {false, true, true, true, false, false});
    EXPECT_EQ(ignoring.worst, 0.9);
    EXPECT_EQ(ignoring.worstX, 0);
    EXPECT_EQ(ignoring.below, 0u);
    EXPECT_EQ(ignoring.blocks, 3u);
    EXPECT_EQ(ignoring.ignored, 3u);
    EXPECT_TRUE(ignoring.pass);
}

using namespace std::string_literals;

TEST(PairList, SplitsAtTheTabsAndCallsEveryOtherLineMalformed) {
    const std::string text =
        "a b.png\tc\"d.png\n-x.bmp\tCRLF.bmp\tm ask.png\r\nno tab\n\tempty-first\nempty-second\t\n"
        "one\ttwo\tthree\tfour\nempty\tmask\t\nzero\0byte\tx\n\nlast\tline"s;
    std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<Pair> pairs;
    {
        PairList list(stream);
        for (Pair pair; list.next(&pair);) pairs.push_back(pair);
    }
    std::fclose(stream);
    // (first, second, mask) of the good lines.
    const std::vector<std::vector<std::string>> good{
        {"a b.png", "c\"d.png", ""}, {"-x.bmp", "CRLF.bmp", "m ask.png"}, {"last", "line", ""}};
    ASSERT_EQ(pairs.size(), 10u);
    for (std::size_t i : {0, 1, 9}) {
        EXPECT_EQ(pairs[i].problem, Problem::kNone) << i;
        EXPECT_EQ((std::vector{pairs[i].first, pairs[i].second, pairs[i].mask}),
                  good[i == 9 ? 2 : i]);
    }
    for (std::size_t i = 2; i < 9; ++i) EXPECT_EQ(pairs[i].problem, Problem::kMalformedLine) << i;
    EXPECT_EQ(pairs[2].first, "no tab");
}

TEST(PairsInFolders, PairsSamePathsBytewiseAndNamesTheMissingSide) {
    namespace fs = std::filesystem;
    const std::string left = test_files::scratchPath("left"),
                      right = test_files::scratchPath("right");
    for (const auto& [folder, names] :
         {std::pair{left, std::vector<std::string>{"a.png", "Z.Png", "sub/b.PGM", "only-left.bmp",
                                                   "notes.txt", "deep/er/c.jpeg"}},
          std::pair{right, std::vector<std::string>{"a.png", "Z.Png", "sub/b.PGM", "only-right.JPG",
                                                    "deep/er/c.jpeg", "sub/d.txt"}}}) {
        for (const std::string& name : names) {
            fs::create_directories(fs::path(folder + "/" + name).parent_path());
            std::ofstream(folder + "/" + name) << "x";
        }
    }
    fs::create_directories(left + "/folder.png");
    const std::vector<Pair> pairs = pairsInFolders(left, right + "/");
    std::vector<std::string> seen;
    for (const Pair& pair : pairs) {
        seen.push_back(pair.first.substr(left.size() + 1) + " " + problemWords(pair.problem));
        EXPECT_EQ(pair.second.substr(right.size() + 1),
                  seen.back().substr(0, seen.back().find(' ')));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Z.Png ", "a.png ", "deep/er/c.jpeg ",
                                              "only-left.bmp missing second",
                                              "only-right.JPG missing first", "sub/b.PGM "}));
}

TEST(LoadImage, RefusesWhatIsNoFileAtOnceAndKeepsTheReadersCodes) {
    const std::string fifo = test_files::scratchPath("fifo.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(test_files::scratchPath("empty.bmp"));
    // (path, code): a pipe that no one writes to is empty, not a wait.
    for (const auto& [path, code] :
         {std::pair{fifo, kEmptyFile},
          {test_files::scratchPath("empty.bmp"), kEmptyFile},
          {test_files::scratchPath(""), kCannotOpen},
          {"/dev/null", kCannotOpen},
          {test_files::scratchPath("missing.bmp"), kCannotOpen},
          {test_files::dataPath("crafted/cut-mid-band.bmp"), kBadPixels}}) {
        const Loaded loaded = loadImage(path);
        EXPECT_EQ(loaded.code, code) << path;
        EXPECT_EQ(loaded.image, nullptr) << path;
    }
    const std::string colour = test_files::dataPath("crafted/colour16x16.bmp");
    const Pair pair{colour, colour};
    EXPECT_EQ(comparePair(pair, 0, nullptr, {}).problem, Problem::kNotGrey);
    Settings luma;
    luma.luma = true;
    EXPECT_EQ(comparePair(pair, 0, nullptr, luma).mean, 1.0);
}

// A mask file of the given sides and depth, white but for the pixels given black and those given
// nearly black (their last channel 1).
std::string maskFile(const std::string& name, int width, int height, int depth,
                     const std::vector<std::pair<int, int>>& black,
                     const std::vector<std::pair<int, int>>& nearlyBlack = {}) {
    const ImagePtr mask(createImage(width, height, depth));
    const int bytes = depth / 8;
    std::fill(mask->data, mask->data + bytes * width * height, 255);
    for (const std::uint8_t last : {0, 1}) {
        for (const auto& [x, y] : last == 0 ? black : nearlyBlack) {
            std::uint8_t* pixel = mask->data + bytes * (y * width + x);
            std::fill_n(pixel, bytes, 0);
            pixel[bytes - 1] = last;
        }
    }
    const std::string path = test_files::scratchPath(name);
    EXPECT_EQ(writeBMPfile(path.c_str(), mask.get()), 0);
    return path;
}

TEST(ComparePair, LeavesOutTheBlocksThatRectanglesAndMasksTouch) {
    // 3 x 2 blocks; the third of the top row (16, 0) is the worst, the first (0, 0) the next.
    const Pair pair{test_files::dataPath("crafted/blocks-first.bmp"),
                    test_files::dataPath("crafted/blocks-second.bmp")};
    const Record whole = comparePair(pair, 0, nullptr, {});
    ASSERT_EQ(whole.worstX, 16);
    Settings settings;
    settings.thresholds.minBlock = whole.worst;
    // A rectangle reaching past the picture's edge is clipped; its corner pixel touches one block.
    settings.ignore = {{23, 7, 100, 1}};
    const Record rectangle = comparePair(pair, 0, nullptr, settings);
    EXPECT_EQ(rectangle.ignored, 1u);
    EXPECT_EQ(rectangle.blocks, 5u);
    EXPECT_NE(rectangle.worstX, 16);
    EXPECT_GT(rectangle.worst, whole.worst);
    EXPECT_EQ(rectangle.below, 0u);
    EXPECT_NE(rectangle.mean, whole.mean);
    // The same block left out by one black pixel of a grey mask or a colour one, with the pair's
    // own mask added: a colour pixel with blue 1, or a grey level 1, is not black.
    settings.ignore.clear();
    settings.mask =
        std::make_shared<Mask>(loadMask(maskFile("grey.bmp", 24, 16, 8, {}, {{0, 15}, {1, 15}})));
    Pair masked = pair;
    masked.mask = maskFile("colour.bmp", 24, 16, 24, {{17, 3}}, {{0, 0}, {9, 9}});
    const Record both = comparePair(masked, 0, nullptr, settings);
    EXPECT_EQ(std::tuple(both.ignored, both.worst, both.mean),
              std::tuple(rectangle.ignored, rectangle.worst, rectangle.mean));
    masked.mask = maskFile("black.bmp", 24, 16, 24, {{17, 3}, {0, 0}});
    EXPECT_EQ(comparePair(masked, 0, nullptr, settings).ignored, 2u);
    // A mask of another size, or one that cannot be read, is the pair's error.
    masked.mask = maskFile("small.bmp", 16, 16, 8, {});
    EXPECT_EQ(comparePair(masked, 0, nullptr, settings).problem, Problem::kMaskSize);
    masked.mask = test_files::scratchPath("missing.bmp");
    const Record unread = comparePair(masked, 0, nullptr, settings);
    EXPECT_EQ(problemText(unread), "cannot read mask (code -1)");
    settings.mask = std::make_shared<Mask>(loadMask(masked.mask));
    EXPECT_EQ(comparePair(pair, 0, nullptr, settings).problem, Problem::kCannotReadMask);
}

TEST(ComparePair, ScoresColourByItsLowestChannelAndGreyAsToday) {
    Settings colour;
    colour.colour = true;
    const std::string grey = test_files::dataPath("crafted/blocks-first.bmp");
    const Pair greyPair{grey, test_files::dataPath("crafted/blocks-second.bmp")};
    const Record today = comparePair(greyPair, 0, nullptr, {});
    const Record channels = comparePair(greyPair, 0, nullptr, colour);
    EXPECT_EQ(channels.mean, today.mean);
    EXPECT_EQ(channels.channels, (std::array{today.mean, today.mean, today.mean}));
    EXPECT_FALSE(today.channels);
    // Each channel apart: the lowest of three is at most every channel's score.
    const ImagePtr picture(createImage(16, 16, 24));
    for (int i = 0; i < 16 * 16 * 3; ++i) picture->data[i] = static_cast<std::uint8_t>(i * 7);
    const std::string first = test_files::scratchPath("colour-first.bmp");
    ASSERT_EQ(writeBMPfile(first.c_str(), picture.get()), 0);
    for (int i = 0; i < 16 * 16; ++i) picture->data[3 * i + 1] ^= 0x20;  // green alone changes
    const std::string second = test_files::scratchPath("colour-second.bmp");
    ASSERT_EQ(writeBMPfile(second.c_str(), picture.get()), 0);
    const Record changed = comparePair({first, second}, 0, nullptr, colour);
    ASSERT_TRUE(changed.channels);
    EXPECT_EQ((*changed.channels)[0], 1.0);
    EXPECT_EQ((*changed.channels)[2], 1.0);
    EXPECT_LT((*changed.channels)[1], 1.0);
    EXPECT_EQ(changed.mean, (*changed.channels)[1]);
}

TEST(RunPairs, EmitsInInputOrderWithFewRecordsWaiting) {
    std::vector<Pair> pairs(400);
    for (std::size_t i = 0; i < pairs.size(); ++i) pairs[i].first = std::to_string(i);
    PairVector source(pairs);
    std::atomic<std::size_t> started{0};
    std::size_t emitted = 0, mostWaiting = 0;
    std::vector<std::string> order;
    constexpr unsigned kJobs = 7;
    runPairs(
        source, kJobs,
        [&](const Pair& pair, std::size_t index) {
            ++started;
            // Uneven times, so that later pairs often finish before earlier ones.
            std::this_thread::sleep_for(std::chrono::microseconds((index * 7919) % 500));
            Record record;
            record.first = pair.first;
            return record;
        },
        [&](const Record& record) {
            mostWaiting = std::max(mostWaiting, started - emitted++);
            order.push_back(record.first);
        });
    std::vector<std::string> expected;
    for (const Pair& pair : pairs) expected.push_back(pair.first);
    EXPECT_EQ(order, expected);
    EXPECT_LE(mostWaiting, 3 * kJobs);
}

}  // namespace
}  // namespace likeness::check
