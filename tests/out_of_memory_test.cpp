// Memory that runs out at every point of a comparison in turn: each allocation from the n-th on
// fails, for n = 0, 1, 2, ... until a comparison no longer reaches the n-th. Whatever fails, the
// answer is the one memory would have given, or the picture being read refused with
// kOutOfMemory; never an abort, a crash or another answer. The process's own malloc is replaced,
// which the sanitizers' allocators do not allow: there the test is skipped.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "likeness-check/compare.h"
#include "likeness-check/png_file.h"
#include "likeness/engine.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"
#include "test_files.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LIKENESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LIKENESS_SANITIZED 1
#endif
#endif

namespace {

// Allocations left before every further one fails; negative while memory is plentiful.
std::atomic<long> allocationsLeft{-1};

}  // namespace

#ifndef LIKENESS_SANITIZED
namespace {

// Whether this allocation fails; it then sets errno as the C library's does.
bool exhausted() {
    if (allocationsLeft.load() < 0 || allocationsLeft.fetch_sub(1) > 0) return false;
    errno = ENOMEM;
    return true;
}

}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t size) {
    return exhausted() ? nullptr : __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    return exhausted() ? nullptr : __libc_calloc(count, size);
}
void* realloc(void* old, std::size_t size) {
    return exhausted() ? nullptr : __libc_realloc(old, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
    return exhausted() ? nullptr : __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    if (exhausted()) return ENOMEM;
    *out = __libc_memalign(alignment, size);
    return *out == nullptr ? ENOMEM : 0;
}
}
#endif

namespace likeness {
namespace {

// Runs what with every allocation from the n-th on failing, for each n in turn, and hands the
// outcome to check; stops once what ran without reaching the n-th.
template <class What, class Check>
void underEveryShortage(const What& what, const Check& check) {
    for (long n = 0;; ++n) {
        allocationsLeft.store(n);
        const auto outcome = what();
        const bool reached = allocationsLeft.exchange(-1) < 0;
        check(outcome, n);
        if (!reached) return;
    }
}

std::string greyPNG(const std::string& name, int width, int height) {
    ImagePtr image(createImage(width, height, 8));
    for (int i = 0; i < width * height; ++i)
        image->data[i] = static_cast<std::uint8_t>(i * 7 % 253 ^ i / width);
    const std::string path = test_files::scratchPath(name);
    EXPECT_TRUE(check::writePng(path, *image));
    return path;
}

TEST(OutOfMemory, RefusesThePictureBeingReadAndNeverAnythingElse) {
#ifdef LIKENESS_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocators cannot be replaced";
#endif
    // Decoded pairs large enough for a second thread, decoded pictures against located ones, and
    // a grey picture in a colour file.
    const std::string png = greyPNG("first.png", 1024, 512);
    const std::string otherPNG = greyPNG("second.png", 1024, 512);
    const std::pair<std::string, std::string> pairs[] = {
        {png, otherPNG},
        {test_files::dataPath("written/blocks-first.png"),
         test_files::dataPath("written/blocks-second.pgm")},
        {test_files::dataPath("crafted/blocks-first-24bit.bmp"),
         test_files::dataPath("written/pil-grey-blocks-first.jpg")},
        {test_files::dataPath("written/pil-grey-blocks-first.jpg"),
         test_files::dataPath("crafted/blocks-first.bmp")},
        // A palette file, decoded through red, green and blue.
        {test_files::dataPath("written/pil-palette4-grey16x16.png"),
         test_files::dataPath("written/pil-palette4-grey16x16.png")},
    };
    CompareOptions options;
    options.blockScores = true;
    for (const auto& [first, second] : pairs) {
        const Comparison plenty =
            compare(fileSource(first.c_str()), fileSource(second.c_str()), options);
        ASSERT_EQ(plenty.verdict, kPairOk) << first;
        underEveryShortage(
            [&] { return compare(fileSource(first.c_str()), fileSource(second.c_str()), options); },
            [&](const Comparison& got, long n) {
                if (got.readResult == kOutOfMemory) {
                    EXPECT_TRUE(got.verdict == kFirstUnreadable ||
                                got.verdict == kSecondUnreadable);
                    return;
                }
                EXPECT_EQ(got.verdict, plenty.verdict) << first << " at " << n;
                EXPECT_EQ(std::bit_cast<std::uint64_t>(got.mean),
                          std::bit_cast<std::uint64_t>(plenty.mean))
                    << first << " at " << n;
            });
        underEveryShortage(
            [&] {
                Image* image = nullptr;
                const int code = readImageFile(first.c_str(), &image);
                disposeImage(image);
                return code;
            },
            [&](int code, long n) {
                EXPECT_TRUE(code == kReadOk || code == kOutOfMemory)
                    << first << ": " << code << " at " << n;
            });
        const check::Pair pair{first, second};
        underEveryShortage([&] { return check::comparePair(pair, 0, nullptr, {}); },
                           [&](const check::Record& record, long n) {
                               EXPECT_TRUE(record.problem == check::Problem::kNone ||
                                           record.problem == check::Problem::kOutOfMemory)
                                   << first << ": " << check::problemText(record) << " at " << n;
                           });
    }
}

// A grey picture in memory takes no memory to read, so memory refused while the decoded second
// picture is read through (their sizes differ) is the second's alone; so too when both are read
// whole for colour.
TEST(OutOfMemory, BlamesTheSecondPictureWhenOnlyItTakesMemory) {
#ifdef LIKENESS_SANITIZED
    GTEST_SKIP() << "the sanitizers' allocators cannot be replaced";
#endif
    const ImagePtr first(createImage(64, 64, 8));
    const std::string second = greyPNG("second.png", 256, 128);
    for (const bool colour : {false, true}) {
        CompareOptions options;
        options.colour = colour;
        underEveryShortage(
            [&] { return compare(imageSource(first.get()), fileSource(second.c_str()), options); },
            [&](const Comparison& got, long n) {
                const int expected =
                    got.readResult == kOutOfMemory ? kSecondUnreadable : kPairSizesDiffer;
                EXPECT_EQ(got.verdict, expected) << "at " << n << (colour ? " by colour" : "");
            });
    }
}

}  // namespace
}  // namespace likeness
