#include "image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace likeness {
namespace {

TEST(CreateImage, RefusesNegativeSidesOtherDepthsAndSizesBeyondTheModel) {
    EXPECT_EQ(createImage(-1, 5, 8), nullptr);
    EXPECT_EQ(createImage(5, -1, 8), nullptr);
    EXPECT_EQ(createImage(5, 5, 16), nullptr);
    EXPECT_EQ(createImage(5, 5, 0), nullptr);
    EXPECT_EQ(createImage(65536, 32768, 8), nullptr);  // 2^31 bytes, one past the limit
    EXPECT_EQ(createImage(65535, 65535, 24), nullptr);
    EXPECT_EQ(createImage(INT32_MAX, INT32_MAX, 24), nullptr);
    EXPECT_EQ(createImage(INT32_MAX, 2, 8), nullptr);
    EXPECT_EQ(createImage(715827883, 1, 24), nullptr);  // 3 * width passes 2^31 - 1
}

TEST(CreateImage, EmptyImagesExistButHaveNoPixels) {
    ImagePtr image(createImage(0, 0, 8));
    ASSERT_NE(image, nullptr);
    EXPECT_NE(image->data, nullptr);
    Pixel pixel{1, 2, 3};
    for (int y = -1; y <= 1; ++y) {
        for (int x = -1; x <= 1; ++x) {
            EXPECT_EQ(setPixel(image.get(), x, y, &pixel), 0);
            EXPECT_EQ(getPixel(image.get(), x, y, &pixel), -1);
        }
    }
    EXPECT_EQ(pixel.r, 1);
    ImagePtr wide(createImage(INT32_MAX, 0, 24));
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(getPixel(wide.get(), 0, 0, &pixel), -1);
}

TEST(PixelAccess, ClampsReadsToTheBorderAndReportsIt) {
    ImagePtr image(createImage(4, 4, 8));
    ASSERT_NE(image, nullptr);
    for (int i = 0; i < 16; ++i) image->data[i] = static_cast<std::uint8_t>(i * 10);
    Pixel pixel{};
    EXPECT_EQ(getPixel(image.get(), -3, 2, &pixel), 0);
    EXPECT_EQ(pixel.r, 80);
    EXPECT_EQ(getPixel(image.get(), 4, 4, &pixel), 0);
    EXPECT_EQ(pixel.r, 150);
    EXPECT_EQ(getPixel(image.get(), 2, -9, &pixel), 0);
    EXPECT_EQ(pixel.r, 20);
    EXPECT_EQ(getPixel(image.get(), 1, 1, &pixel), 1);
    EXPECT_EQ(pixel.r, 50);
    EXPECT_EQ(pixel.g, 50);
    EXPECT_EQ(pixel.b, 50);
}

TEST(PixelAccess, WritesClampValuesAndSkipPositionsOutside) {
    ImagePtr image(createImage(4, 4, 8));
    ASSERT_NE(image, nullptr);
    std::memset(image->data, 7, 16);
    Pixel high{300, 0, 0};
    Pixel low{-7, 0, 0};
    EXPECT_EQ(setPixel(image.get(), 0, 0, &high), 1);
    EXPECT_EQ(setPixel(image.get(), 3, 3, &low), 1);
    EXPECT_EQ(image->data[0], 255);
    EXPECT_EQ(image->data[15], 0);
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 4}}) {
        EXPECT_EQ(setPixel(image.get(), x, y, &high), 0);
    }
    for (int i = 1; i < 15; ++i) EXPECT_EQ(image->data[i], 7) << i;

    Pixel colour{10, 20, 30};
    Pixel back{};
    EXPECT_EQ(setPixel(image.get(), 2, 1, &colour), 1);
    EXPECT_EQ(getPixel(image.get(), 2, 1, &back), 1);
    EXPECT_EQ(back.r, 10);
    EXPECT_EQ(back.g, 10);
    EXPECT_EQ(back.b, 10);
}

TEST(PixelAccess, TrueColourKeepsRedGreenBlueInThatOrder) {
    ImagePtr image(createImage(2, 2, 24));
    ASSERT_NE(image, nullptr);
    Pixel colour{1, 2, 3};
    EXPECT_EQ(setPixel(image.get(), 1, 1, &colour), 1);
    EXPECT_EQ(image->data[9], 1);
    EXPECT_EQ(image->data[10], 2);
    EXPECT_EQ(image->data[11], 3);
    Pixel back{};
    EXPECT_EQ(getPixel(image.get(), 5, 5, &back), 0);
    EXPECT_EQ(back.r, 1);
    EXPECT_EQ(back.g, 2);
    EXPECT_EQ(back.b, 3);
}

TEST(PixelAccess, AbsentImagesAndOtherDepthsAreRefused) {
    Pixel pixel{4, 5, 6};
    EXPECT_EQ(getPixel(nullptr, 0, 0, &pixel), -1);
    EXPECT_EQ(setPixel(nullptr, 0, 0, &pixel), -1);
    std::uint8_t bytes[8] = {};
    Image noData{2, 2, 8, nullptr};
    Image deep{2, 2, 16, bytes};
    EXPECT_EQ(getPixel(&noData, 0, 0, &pixel), -1);
    EXPECT_EQ(setPixel(&noData, 0, 0, &pixel), -1);
    EXPECT_EQ(getPixel(&deep, 0, 0, &pixel), -1);
    EXPECT_EQ(setPixel(&deep, 0, 0, &pixel), -1);
    EXPECT_EQ(pixel.r, 4);
    EXPECT_EQ(bytes[0], 0);
}

TEST(CorrectValue, ClampsToZeroAndMax) {
    EXPECT_EQ(correctValue(-1, 255), 0);
    EXPECT_EQ(correctValue(0, 255), 0);
    EXPECT_EQ(correctValue(255, 255), 255);
    EXPECT_EQ(correctValue(256, 255), 255);
    EXPECT_EQ(correctValue(INT32_MIN, 10), 0);
}

}  // namespace
}  // namespace likeness
