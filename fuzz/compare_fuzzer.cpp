// libFuzzer target: two image files compared by the engine, which reads each as it is stored
// (rows where they lie in the file, rows from a decoder, the second picture on a thread of its
// own), must give what reading both whole and comparing them gives (tests/reference.h): the
// verdict, the reader's code, the sides, the mean's bits and every block's score.
#include <string.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "likeness/engine.h"
#include "reference.h"
#include "test_files.h"

namespace {

// An input is the first file, this line and the second file, so that a seed is two real files
// with the line between them and libFuzzer's mutations reach either file without moving the
// other; libFuzzer learns the line from the search for it. An input without the line is one
// file, compared with itself.
constexpr std::string_view kSeparator = "\n--likeness-second-file--\n";

// A ceiling on compressed pictures far below the default: under the sanitizers a larger one takes
// the whole read tenths of a second to decode and score, and both sides refuse it alike. The
// engine decodes on two threads from 2^18 pixels on, well within it.
constexpr likeness::ReadLimits kLimits{std::int64_t{1} << 20};

void save(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) std::abort();
}

// Compares the files with the engine and by the whole read, and aborts where the two differ. No
// verdict of exhausted memory is passed over: under the ceiling and with inputs of libFuzzer's
// sizes, neither side comes near the allocation cap but through a fault. The whole read maps
// pictures of 8 MiB and more rather than allocating them, the decoders' buffers stay within a few
// megabytes, and the engine's buffers are a few bands of each picture's own rows; its band of
// rows for a picture without any (crafted/empty-wide.bmp) was such a fault.
void check(const std::string& first, const std::string& second) {
    likeness::CompareOptions options;
    options.limits = kLimits;
    options.blockScores = true;
    const likeness::Comparison got = likeness::compare(
        likeness::fileSource(first.c_str()), likeness::fileSource(second.c_str()), options);
    const likeness::Comparison expected = reference::readThenCompare(first, second, kLimits);
    if (reference::comparedFields(got) != reference::comparedFields(expected)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string first = test_files::scratchPath("first");
    static const std::string second = test_files::scratchPath("second");
    const auto* separator =
        static_cast<const std::uint8_t*>(memmem(data, size, kSeparator.data(), kSeparator.size()));
    save(first, data, separator == nullptr ? size : static_cast<std::size_t>(separator - data));
    if (separator == nullptr) {
        check(first, first);
        return 0;
    }
    const std::uint8_t* start = separator + kSeparator.size();
    save(second, start, static_cast<std::size_t>(data + size - start));
    check(first, second);
    return 0;
}
