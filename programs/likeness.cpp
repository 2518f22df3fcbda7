// likeness FIRST SECOND: prints the mean block SSIM of two grey image files (BMP, PNG, PGM or
// JPEG).
#include "refusals.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        likeness::printUsage("likeness <read image file(1) name> <read image file(2) name>");
        return 1;
    }
    likeness::Comparison comparison;
    if (!likeness::compareReadablePair(argv[1], argv[2], false, &comparison)) return 1;
    return likeness::printResult(comparison.mean) ? 0 : 1;
}
