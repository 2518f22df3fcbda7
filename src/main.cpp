// likeness FIRST SECOND: prints the mean block SSIM of two grey image files (BMP, PNG, PGM or
// JPEG).
#include "likeness.h"
#include "tool.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        likeness::printUsage("likeness <read image file(1) name> <read image file(2) name>");
        return 1;
    }
    likeness::ImagePtr first;
    likeness::ImagePtr second;
    if (!likeness::readComparablePair(argv[1], argv[2], &first, &second)) return 1;
    return likeness::printResult(likeness::meanSSIM(first.get(), second.get())) ? 0 : 1;
}
