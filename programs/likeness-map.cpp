// likeness-map FIRST SECOND MAP: prints the mean block SSIM of two grey image files (BMP, PNG, PGM
// or JPEG), as likeness does, and writes MAP, a grey BMP picture of the block scores: each 8 x 8
// block is white where the images agree and darker the more they differ.

#include "likeness/bmp.h"
#include "likeness/likeness.h"
#include "refusals.h"

using likeness::ImagePtr;

int main(int argc, char** argv) {
    if (argc < 4) {
        likeness::printUsage(
            "likeness-map <read image file(1) name> <read image file(2) name> "
            "<write map file name>");
        return 1;
    }
    likeness::Comparison comparison;
    if (!likeness::compareReadablePair(argv[1], argv[2], true, &comparison)) return 1;
    if (!likeness::printResult(comparison.mean)) return 1;
    ImagePtr map =
        likeness::blockMap(comparison.firstWidth, comparison.firstHeight, comparison.scores);
    if (!map || likeness::writeBMPfile(argv[3], map.get()) != 0) {
        likeness::printCannotWrite();
        return 1;
    }
    return 0;
}
