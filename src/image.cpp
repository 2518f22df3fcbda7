#include "image.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace likeness {

namespace {

// Byte offset of pixel (x, y); the caller has checked that it lies inside the image.
std::size_t pixelOffset(const Image* image, int x, int y) {
    std::size_t index = static_cast<std::size_t>(image->width) * static_cast<std::size_t>(y) +
                        static_cast<std::size_t>(x);
    return index * static_cast<std::size_t>(image->depth / 8);
}

// Pulls a coordinate into 0..size - 1 (size > 0); false when it had to move.
bool clampToRange(int* coordinate, int size) {
    if (*coordinate < 0) {
        *coordinate = 0;
        return false;
    }
    if (*coordinate >= size) {
        *coordinate = size - 1;
        return false;
    }
    return true;
}

}  // namespace

bool checkedSize(std::int64_t a, std::int64_t b, std::int64_t* product) {
    if (a < 0 || b < 0) return false;
    if (b != 0 && a > kMaxImageBytes / b) return false;
    *product = a * b;
    return true;
}

Image* createImage(int width, int height, int depth) {
    if (width < 0 || height < 0) return nullptr;
    if (depth != 8 && depth != 24) return nullptr;
    std::int64_t pixels = 0;
    std::int64_t bytes = 0;
    if (!checkedSize(width, height, &pixels) || !checkedSize(pixels, depth / 8, &bytes)) {
        return nullptr;
    }
    Image* image = new (std::nothrow) Image{width, height, depth, nullptr};
    if (image == nullptr) return nullptr;
    // Zeroed, so that no byte a caller sees is undefined, even in a partly read image; an empty
    // image still gets a buffer of its own.
    const auto size = std::max<std::size_t>(static_cast<std::size_t>(bytes), 1);
    image->data = static_cast<std::uint8_t*>(std::calloc(size, 1));
    if (image->data == nullptr) {
        delete image;
        return nullptr;
    }
    return image;
}

void disposeImage(Image* image) {
    if (image == nullptr) return;
    std::free(image->data);
    delete image;
}

int getPixel(const Image* image, int x, int y, Pixel* out) {
    if (image == nullptr || image->data == nullptr || out == nullptr) return -1;
    // An empty image has no border pixel to replicate.
    if (image->width <= 0 || image->height <= 0) return -1;
    if (image->depth != 8 && image->depth != 24) return -1;
    bool inside = clampToRange(&x, image->width);
    inside = clampToRange(&y, image->height) && inside;
    const std::uint8_t* p = image->data + pixelOffset(image, x, y);
    if (image->depth == 8) {
        *out = Pixel{p[0], p[0], p[0]};
    } else {
        *out = Pixel{p[0], p[1], p[2]};
    }
    return inside ? 1 : 0;
}

int setPixel(Image* image, int x, int y, const Pixel* in) {
    if (image == nullptr || image->data == nullptr || in == nullptr) return -1;
    if (x < 0 || x >= image->width || y < 0 || y >= image->height) return 0;
    if (image->depth != 8 && image->depth != 24) return -1;
    std::uint8_t* p = image->data + pixelOffset(image, x, y);
    p[0] = static_cast<std::uint8_t>(correctValue(in->r, 255));
    if (image->depth == 24) {
        p[1] = static_cast<std::uint8_t>(correctValue(in->g, 255));
        p[2] = static_cast<std::uint8_t>(correctValue(in->b, 255));
    }
    return 1;
}

int correctValue(int value, int max) {
    if (value < 0) return 0;
    if (value > max) return max;
    return value;
}

}  // namespace likeness
