// The readers of the compressed formats: what bounds their work, and how each refuses files that
// are cut, corrupt or claim more than they hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "likeness/image_file.h"
#include "test_files.h"

using namespace likeness;

namespace {

int readWithCeiling(const std::string& name, std::int64_t ceiling, ImagePtr* image = nullptr) {
    Image* raw = nullptr;
    const int code = readImageFile(test_files::dataPath(name).c_str(), &raw, ReadLimits{ceiling});
    ImagePtr read(raw);
    if (image != nullptr) *image = std::move(read);
    return code;
}

// A progressive JPEG file's scans each pass over the whole picture: scans times pixels may come to
// 32 passes over a picture at the ceiling. 500 scans of 128 x 128 pixels are within the budget of
// a ceiling of 500 / 32 such pictures, and not a pixel less; a lifted ceiling leaves the model's.
TEST(ReadCompressed, AProgressiveJPEGFilesScansAreBoundedByTheCeiling) {
    const std::string name = "crafted/jpeg-scans500-128x128.jpg";
    constexpr std::int64_t picture = 128 * 128;
    ImagePtr image;
    EXPECT_EQ(readWithCeiling(name, 500 * picture / 32, &image), kReadOk);
    EXPECT_TRUE(image != nullptr);
    EXPECT_EQ(readWithCeiling(name, 500 * picture / 32 - 1, &image), kDecoderRefused);
    EXPECT_TRUE(image == nullptr);
    EXPECT_EQ(readWithCeiling(name, 0), kReadOk);
    // A ceiling of exactly the picture allows 32 scans, the picture of 8 x 8 pixels many more.
    EXPECT_EQ(readWithCeiling(name, picture), kDecoderRefused);
    EXPECT_EQ(readWithCeiling("crafted/jpeg-scans2688.jpg", 64 * 84), kReadOk);
    EXPECT_EQ(readWithCeiling("crafted/jpeg-scans2688.jpg", 64 * 83), kDecoderRefused);
}

}  // namespace
