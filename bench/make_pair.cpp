// make_pair SIDE FIRST SECOND [FORM]: writes two SIDE x SIDE grey pictures, two noisy copies of
// one texture (noise of the same amount, drawn from different seeds), the same bytes on every
// run, stored as FORM: "bmp" (8-bit, bottom-up, the default), "top-down" (8-bit BMP with rows top
// first), "palette" (8-bit BMP whose palette is grey but reversed), "24" (24-bit BMP of grey
// pixels) or "pgm" (binary PGM).
//
// Alike but not identical (block scores from about 0.83 to 1, a mean of 0.93). Noise in both,
// rather than a clean texture against a noisy copy of it, so that compressed (PNG, JPEG) the two
// take about as long to decode: likeness decodes them on two threads at once, and with a clean
// first picture (a PNG file of 1.1 MB against 41 MB at 8192) one thread idled for most of the run,
// which timed the second file's inflating rather than the reader.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "likeness/bmp.h"

namespace {

// A small linear congruential generator: deterministic and the same everywhere.
struct Noise {
    std::uint32_t state;
    int next(int range) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 24) % range;
    }
};

likeness::ImagePtr picture(int side, std::uint32_t seed, int depth) {
    likeness::ImagePtr image(likeness::createImage(side, side, depth));
    if (!image) return image;
    Noise noise{seed};
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const int level =
                (x * 3 + y * 5) % 200 + ((x / 32 + y / 32) % 2) * 40 + noise.next(16);
            const likeness::Pixel pixel{level, level, level};
            likeness::setPixel(image.get(), x, y, &pixel);
        }
    }
    return image;
}

using Bytes = std::vector<std::uint8_t>;

bool slurp(const char* path, Bytes* bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[1 << 16];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes->insert(bytes->end(), chunk, chunk + got);
    return std::fclose(file) == 0;
}

bool spill(const char* path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// The 8-bit BMP file written at path, rewritten with its rows top first or with a reversed
// palette (entry i grey level 255 - i, each pixel index 255 - level).
bool restore(const char* path, const std::string& form, int side) {
    constexpr std::size_t kPixels = 14 + 40 + 4 * 256;
    Bytes bytes;
    if (!slurp(path, &bytes)) return false;
    if (form == "top-down") {
        const std::uint32_t height = static_cast<std::uint32_t>(-side);
        for (int i = 0; i < 4; ++i) bytes[22 + i] = static_cast<std::uint8_t>(height >> (8 * i));
        const auto row = static_cast<std::size_t>(side);
        for (std::size_t y = 0; y < row / 2; ++y)
            std::swap_ranges(&bytes[kPixels + y * row], &bytes[kPixels + (y + 1) * row],
                             &bytes[kPixels + (row - 1 - y) * row]);
    } else {
        for (std::size_t i = 14 + 40; i < bytes.size(); ++i)
            if (i >= kPixels || (i - 54) % 4 < 3) bytes[i] = static_cast<std::uint8_t>(~bytes[i]);
    }
    return spill(path, bytes);
}

bool writePGM(const char* path, const likeness::Image& image) {
    const std::string header =
        "P5\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    Bytes bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), image.data,
                 image.data + static_cast<std::size_t>(image.width) * image.height);
    return spill(path, bytes);
}

bool write(const char* path, const std::string& form, int side, std::uint32_t seed) {
    const likeness::ImagePtr image = picture(side, seed, form == "24" ? 24 : 8);
    if (!image) return false;
    if (form == "pgm") return writePGM(path, *image);
    if (likeness::writeBMPfile(path, image.get()) != 0) return false;
    return form == "bmp" || form == "24" || restore(path, form, side);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("make_pair SIDE FIRST SECOND [bmp|top-down|palette|24|pgm]\n", stderr);
        return 1;
    }
    const int side = std::atoi(argv[1]);
    const std::string form = argc > 4 ? argv[4] : "bmp";
    return write(argv[2], form, side, 54321) && write(argv[3], form, side, 12345) ? 0 : 1;
}
