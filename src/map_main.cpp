// likeness-map FIRST SECOND MAP: prints the mean block SSIM of two grey image files (BMP, PNG or
// PGM), as likeness does, and writes MAP, a grey BMP picture of the block scores: each 8 x 8
// block is white where the images agree and darker the more they differ.
#include <algorithm>
#include <cmath>
#include <vector>

#include "bmp.h"
#include "likeness.h"
#include "tool.h"

namespace {

using likeness::Image;
using likeness::ImagePtr;
using likeness::kBlockSize;

// round(255 s), the score clamped to 0..1 first: negative scores are as dark as unrelated blocks.
int mapLevel(double score) {
    return static_cast<int>(std::lround(255.0 * std::clamp(score, 0.0, 1.0)));
}

// An image of the same size with every block filled with the level of its score.
ImagePtr blockMap(int width, int height, const std::vector<double>& scores) {
    ImagePtr map(likeness::createImage(width, height, 8));
    if (!map) return map;
    const int columns = width / kBlockSize;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto block = static_cast<std::size_t>(y / kBlockSize * columns + x / kBlockSize);
            const likeness::Pixel pixel{mapLevel(scores[block]), 0, 0};
            likeness::setPixel(map.get(), x, y, &pixel);
        }
    }
    return map;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        likeness::printUsage(
            "likeness-map <read image file(1) name> <read image file(2) name> "
            "<write map file name>");
        return 1;
    }
    ImagePtr first;
    ImagePtr second;
    if (!likeness::readComparablePair(argv[1], argv[2], &first, &second)) return 1;
    const auto blocks =
        static_cast<std::size_t>(first->height / kBlockSize) * (first->width / kBlockSize);
    std::vector<double> scores(blocks);
    const double mean = likeness::meanSSIM(first.get(), second.get(), scores.data());
    if (!likeness::printResult(mean)) return 1;
    ImagePtr map = blockMap(first->width, first->height, scores);
    if (!map || likeness::writeBMPfile(argv[3], map.get()) != 0) {
        likeness::printCannotWrite();
        return 1;
    }
    return 0;
}
