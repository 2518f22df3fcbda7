#include "image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <utility>

namespace likeness {
namespace {

TEST(CreateImage, RefusesNegativeSidesOtherDepthsAndSizesBeyondTheModel) {
    for (auto [width, height, depth] : {std::tuple{-1, 5, 8},
                                        {5, -1, 8},
                                        {5, 5, 16},
                                        {65536, 32768, 8},
                                        {65535, 65535, 24},
                                        {INT32_MAX, INT32_MAX, 24},
                                        {715827883, 1, 24}}) {
        EXPECT_EQ(createImage(width, height, depth), nullptr) << width << " x " << height;
    }
    ImagePtr empty(createImage(0, 0, 8));
    ImagePtr wide(createImage(INT32_MAX, 0, 24));
    ASSERT_TRUE(empty && wide);
    Pixel pixel{1, 2, 3};
    EXPECT_EQ(setPixel(empty.get(), 0, 0, &pixel), 0);
    EXPECT_EQ(getPixel(empty.get(), 0, 0, &pixel), -1);
    EXPECT_EQ(getPixel(wide.get(), 0, 0, &pixel), -1);
}

TEST(PixelAccess, ReadsClampToTheBorderAndWritesClampTheValues) {
    ImagePtr image(createImage(4, 4, 8));
    for (int i = 0; i < 16; ++i) image->data[i] = static_cast<std::uint8_t>(i * 10);
    Pixel pixel{};
    EXPECT_EQ(getPixel(image.get(), -3, 2, &pixel), 0);
    EXPECT_EQ(pixel.r, 80);
    EXPECT_EQ(getPixel(image.get(), 4, 4, &pixel), 0);
    EXPECT_EQ(pixel.r, 150);
    EXPECT_EQ(getPixel(image.get(), 1, 1, &pixel), 1);
    EXPECT_EQ(pixel.r, 50);
    EXPECT_EQ(pixel.b, 50);

    Pixel high{300, 20, 30};
    Pixel low{-7, 0, 0};
    EXPECT_EQ(setPixel(image.get(), 0, 0, &high), 1);
    EXPECT_EQ(setPixel(image.get(), 3, 3, &low), 1);
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 4}}) {
        EXPECT_EQ(setPixel(image.get(), x, y, &high), 0);
    }
    EXPECT_EQ(image->data[0], 255);
    EXPECT_EQ(image->data[15], 0);
    EXPECT_EQ(image->data[14], 140);
}

TEST(PixelAccess, TrueColourKeepsRedGreenBlueInThatOrder) {
    ImagePtr image(createImage(2, 2, 24));
    Pixel colour{1, 2, 3};
    EXPECT_EQ(setPixel(image.get(), 1, 1, &colour), 1);
    EXPECT_EQ(std::memcmp(image->data + 9, "\1\2\3", 3), 0);
    Pixel back{};
    EXPECT_EQ(getPixel(image.get(), 5, 5, &back), 0);
    EXPECT_EQ(back.r + 10 * back.g + 100 * back.b, 321);
}

TEST(PixelAccess, AbsentImagesAndOtherDepthsAreRefused) {
    Pixel pixel{4, 5, 6};
    std::uint8_t bytes[8] = {};
    Image noData{2, 2, 8, nullptr};
    Image deep{2, 2, 16, bytes};
    for (Image* image : {static_cast<Image*>(nullptr), &noData, &deep}) {
        EXPECT_EQ(getPixel(image, 0, 0, &pixel), -1);
        EXPECT_EQ(setPixel(image, 0, 0, &pixel), -1);
    }
    EXPECT_EQ(pixel.r, 4);
    EXPECT_EQ(bytes[0], 0);
}

}  // namespace
}  // namespace likeness
