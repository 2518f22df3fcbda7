// make_pair SIDE FIRST SECOND: writes two SIDE x SIDE 8-bit grey bitmaps, a textured picture and a
// noisy copy of it, the same bytes on every run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bmp.h"

namespace {

// A small linear congruential generator: deterministic and the same everywhere.
struct Noise {
    std::uint32_t state = 12345;
    int next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 24) % range;
    }
};

likeness::ImagePtr picture(int side, int noiseRange) {
    likeness::ImagePtr image(likeness::createImage(side, side, 8));
    if (!image) return image;
    Noise noise;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            int level = (x * 3 + y * 5) % 200 + ((x / 32 + y / 32) % 2) * 40;
            likeness::Pixel pixel{level + noise.next(noiseRange), 0, 0};
            likeness::setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("make_pair SIDE FIRST SECOND\n", stderr);
        return 1;
    }
    const int side = std::atoi(argv[1]);
    likeness::ImagePtr first = picture(side, 1);
    likeness::ImagePtr second = picture(side, 16);
    if (!first || !second) return 1;
    return likeness::writeBMPfile(argv[2], first.get()) | likeness::writeBMPfile(argv[3], second.get());
}
