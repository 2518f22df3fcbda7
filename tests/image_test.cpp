#include "likeness/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace likeness {
namespace {

TEST(CreateImage, RefusesWhatTheModelCannotHoldAndZeroesTheRest) {
    for (auto [width, height, depth] :
         {std::tuple{-1, 5, 8}, {5, -1, 8}, {5, 5, 16}, {65536, 32768, 8}, {715827883, 1, 24}}) {
        EXPECT_EQ(createImage(width, height, depth), nullptr) << width << " x " << height;
    }
    ImagePtr image(createImage(7, 5, 24));
    EXPECT_TRUE(std::all_of(image->data, image->data + 7 * 5 * 3, [](int b) { return b == 0; }));
    ImagePtr empty(createImage(0, 0, 8));
    Pixel pixel{1, 2, 3};
    EXPECT_EQ(setPixel(empty.get(), 0, 0, &pixel) + getPixel(empty.get(), 0, 0, &pixel), -1);
    // Released as allocated, whatever the public fields say by then: a mapped 24-bit buffer of
    // 12 MiB now described as a small one, and a small buffer described as a mapped one.
    ImagePtr mapped(createImage(2048, 2048, 24)), small(createImage(2, 2, 8));
    mapped->data[2048 * 2048 * 3 - 1] = 1;
    mapped->width = mapped->height = 1;
    small->width = small->height = 4096;
}

TEST(PixelAccess, ReadsClampCoordinatesAndWritesClampEveryComponent) {
    ImagePtr grey(createImage(4, 4, 8));
    for (int i = 0; i < 16; ++i) grey->data[i] = static_cast<std::uint8_t>(i * 10);
    Pixel pixel{};
    // (x, y, result, the grey level read): outside pulls in, the border itself does not.
    for (auto [x, y, result, level] :
         {std::tuple{-3, 2, 0, 80}, {4, 4, 0, 150}, {0, 0, 1, 0}, {3, 3, 1, 150}, {1, 2, 1, 90}}) {
        EXPECT_EQ(getPixel(grey.get(), x, y, &pixel), result) << x << ", " << y;
        EXPECT_EQ(pixel.r, level) << x << ", " << y;
    }
    const Pixel high{300, 20, 30}, low{-7, 0, 0};
    for (auto [x, y] : {std::pair{-1, 0}, {4, 0}, {0, -1}, {0, 4}})
        EXPECT_EQ(setPixel(grey.get(), x, y, &high), 0);
    EXPECT_EQ(setPixel(grey.get(), 1, 0, &high) + setPixel(grey.get(), 2, 0, &low), 2);
    EXPECT_EQ(std::vector<int>(grey->data, grey->data + 4), (std::vector<int>{0, 255, 0, 30}));
    EXPECT_EQ(grey->data[12], 120);

    ImagePtr colour(createImage(2, 2, 24));
    const Pixel clamped{300, -5, 3};
    EXPECT_EQ(setPixel(colour.get(), 1, 1, &clamped), 1);
    EXPECT_EQ(getPixel(colour.get(), 5, 5, &pixel), 0);
    EXPECT_EQ(std::vector<int>(colour->data + 9, colour->data + 12), (std::vector<int>{255, 0, 3}));
    EXPECT_EQ(std::vector<int>({pixel.r, pixel.g, pixel.b}), (std::vector<int>{255, 0, 3}));

    // No image, no pixels, another depth.
    std::uint8_t bytes[8] = {};
    Image noData{2, 2, 8, nullptr}, deep{2, 2, 16, bytes};
    for (Image* image : {static_cast<Image*>(nullptr), &noData, &deep})
        EXPECT_EQ(getPixel(image, 0, 0, &pixel) + setPixel(image, 0, 0, &high), -2);
    EXPECT_EQ(pixel.r + bytes[0], 255);
}

TEST(CreateLumaImage, WeighsTheComponentsAndRoundsHalfUp) {
    ImagePtr colour(createImage(3, 2, 24));
    // (r, g, b) worked out by hand: pure components, an exact half (114 * 250 = 28.5 thousand,
    // rounded up to 29), grey and white.
    const std::uint8_t rgb[] = {255, 0, 0,   0,  255, 0,  0,   0,   255,
                                0,   0, 250, 77, 77,  77, 255, 255, 255};
    std::copy(std::begin(rgb), std::end(rgb), colour->data);
    ImagePtr luma(createLumaImage(colour.get()));
    ASSERT_NE(luma, nullptr);
    EXPECT_EQ(std::vector<int>(luma->data, luma->data + 6),
              (std::vector<int>{76, 150, 29, 29, 77, 255}));
    ImagePtr grey(createImage(3, 2, 8)), empty(createImage(0, 4, 24));
    EXPECT_EQ(createLumaImage(grey.get()), nullptr);
    EXPECT_EQ(createLumaImage(empty.get()), nullptr);
}

}  // namespace
}  // namespace likeness
