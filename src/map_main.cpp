// likeness-map FIRST SECOND MAP: prints the mean block SSIM of two grey image files (BMP, PNG, PGM
// or JPEG), as likeness does, and writes MAP, a grey BMP picture of the block scores: each 8 x 8
// block is white where the images agree and darker the more they differ.
#include <vector>

#include "bmp.h"
#include "likeness.h"
#include "tool.h"

using likeness::ImagePtr;
using likeness::kBlockSize;

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
    ImagePtr map = likeness::blockMap(first->width, first->height, scores);
    if (!map || likeness::writeBMPfile(argv[3], map.get()) != 0) {
        likeness::printCannotWrite();
        return 1;
    }
    return 0;
}
