// A program outside the project, built against the installed library: compares two files.
#include <likeness/engine.h>
#include "likeness/likeness.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const likeness::Comparison comparison =
        likeness::compare(likeness::fileSource(argv[1]), likeness::fileSource(argv[2]));
    if (comparison.verdict != likeness::kPairOk) return 1;
    std::printf("%dx%d SSIM %f\n", comparison.firstWidth, comparison.firstHeight, comparison.mean);
    return 0;
}
