#include "likeness/image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "image/huge_pages.h"

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

// Buffers from this size on are mapped in huge pages: a 64 MiB image then costs 32 page faults
// rather than 16,384. A fresh mapping is zero already. Smaller buffers come from the heap, zeroed.
constexpr std::size_t kMappedBytes = 4 * kHugePage;

std::uint8_t* allocatePixels(std::size_t bytes) {
    // An empty image still gets a buffer of its own.
    if (bytes < kMappedBytes) return static_cast<std::uint8_t*>(std::calloc(bytes + 1, 1));
    return mapHugePages(bytes);
}

void releasePixels(std::uint8_t* data, std::size_t bytes) {
    if (bytes < kMappedBytes) {
        std::free(data);
    } else {
        unmapHugePages(data, bytes);
    }
}

// Every image createImage makes, with what its buffer was allocated as. The public fields may be
// changed by a caller; these are what disposeImage releases.
struct Allocation : Image {
    std::uint8_t* pixels;
    std::size_t bytes;
};

std::size_t bufferBytes(const Image* image) {
    return static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height) *
           static_cast<std::size_t>(image->depth / 8);
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
    // Zeroed, so that no byte a caller sees is undefined, even in a partly read image.
    const auto size = static_cast<std::size_t>(bytes);
    std::uint8_t* buffer = allocatePixels(size);
    if (buffer == nullptr) return nullptr;
    auto* image = new (std::nothrow) Allocation{{width, height, depth, buffer}, buffer, size};
    if (image == nullptr) releasePixels(buffer, size);
    return image;
}

Image* createGreyTwin(const Image* colour) {
    if (colour == nullptr || colour->data == nullptr || colour->depth != 24) return nullptr;
    const std::size_t pixels = bufferBytes(colour) / 3;
    const std::uint8_t* rgb = colour->data;
    for (std::size_t i = 0; i < pixels; ++i) {
        if (rgb[3 * i] != rgb[3 * i + 1] || rgb[3 * i] != rgb[3 * i + 2]) return nullptr;
    }
    if (pixels == 0) return nullptr;
    Image* grey = createImage(colour->width, colour->height, 8);
    if (grey == nullptr) return nullptr;
    for (std::size_t i = 0; i < pixels; ++i) grey->data[i] = rgb[3 * i];
    return grey;
}

Image* createLumaImage(const Image* colour) {
    if (colour == nullptr || colour->data == nullptr || colour->depth != 24) return nullptr;
    const std::size_t pixels = bufferBytes(colour) / 3;
    if (pixels == 0) return nullptr;
    Image* luma = createImage(colour->width, colour->height, 8);
    if (luma == nullptr) return nullptr;
    const std::uint8_t* rgb = colour->data;
    for (std::size_t i = 0; i < pixels; ++i, rgb += 3) {
        luma->data[i] =
            static_cast<std::uint8_t>((299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] + 500) / 1000);
    }
    return luma;
}

void disposeImage(Image* image) {
    if (image == nullptr) return;
    auto* allocation = static_cast<Allocation*>(image);
    releasePixels(allocation->pixels, allocation->bytes);
    delete allocation;
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
