// In-memory raster image with clamped, checked single-pixel access.
#pragma once

#include <cstdint>
#include <memory>

namespace likeness {

// Pixel offsets are signed 32-bit values, so no image may hold more than 2^31 - 1 bytes.
constexpr std::int64_t kMaxImageBytes = INT32_MAX;

// One raster image. Rows run top first with no filler between them; an 8-bit pixel is one grey
// byte, a 24-bit pixel is three bytes r, g, b.
struct Image {
    int width;
    int height;
    int depth;           // bits per pixel: 8 or 24
    std::uint8_t* data;  // owned; (depth / 8) * width * height bytes
};

// One pixel value. For 8-bit images r is the grey level.
struct Pixel {
    int r;
    int g;
    int b;
};

// Multiplies two sizes of 0 or more; false when the product would exceed kMaxImageBytes.
bool checkedSize(std::int64_t a, std::int64_t b, std::int64_t* product);

// A new image with every byte 0, or nullptr for a negative side, a depth other than
// 8 or 24, a buffer beyond kMaxImageBytes or exhausted memory.
Image* createImage(int width, int height, int depth);
// Releases an image that createImage (or a reader) made, and the buffer it was made with,
// whatever its fields have been changed to since.
void disposeImage(Image* image);

// A new 8-bit image of the grey levels of a 24-bit image whose every pixel has equal red, green
// and blue, as programs that keep grey pictures in colour files write them. nullptr for no image,
// one of another depth, one without pixels, one with a pixel of colour, or exhausted memory.
Image* createGreyTwin(const Image* colour);

// A new 8-bit image of the luma of a 24-bit image, Y = (299 R + 587 G + 114 B + 500) / 1000 in
// integers (a grey pixel keeps its level). nullptr for no image, one of another depth, one
// without pixels, or exhausted memory.
Image* createLumaImage(const Image* colour);

// Reads the pixel at (x, y), pulling each coordinate to the nearest border first. Returns 1 for
// a pixel inside the image, 0 when a coordinate was pulled in, -1 for no image, an empty image
// or an unsupported depth (out untouched).
int getPixel(const Image* image, int x, int y, Pixel* out);

// Stores the pixel at (x, y) with each component clamped to 0..255; an 8-bit image keeps r only.
// Returns 1 when stored, 0 for a position outside the image, -1 for no image or another depth.
int setPixel(Image* image, int x, int y, const Pixel* in);

// Owns an image and releases it with disposeImage.
struct ImageDeleter {
    void operator()(Image* image) const { disposeImage(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

// value clamped to 0..max.
int correctValue(int value, int max);

}  // namespace likeness
