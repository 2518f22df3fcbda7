// whole_read FIRST SECOND: compares two files the way the programs did before compareFiles, for
// the benchmark to set beside it: both read whole into images, one after the other, then meanSSIM.
#include <cstdio>

#include "likeness/image_file.h"
#include "likeness/likeness.h"

namespace {

likeness::ImagePtr readGrey(const char* path) {
    likeness::Image* image = nullptr;
    const int result = likeness::readImageFile(path, &image);
    likeness::ImagePtr owned(image);
    if (result < 0) return nullptr;
    likeness::ImagePtr twin(likeness::createGreyTwin(owned.get()));
    return twin ? std::move(twin) : std::move(owned);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("whole_read FIRST SECOND\n", stderr);
        return 1;
    }
    const likeness::ImagePtr first = readGrey(argv[1]);
    const likeness::ImagePtr second = readGrey(argv[2]);
    if (!first || !second) return 1;
    std::printf("SSIM: %f\n", likeness::meanSSIM(first.get(), second.get()));
    return 0;
}
