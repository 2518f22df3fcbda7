// A program outside the project, built against the installed library: compares two files.
#include <likeness/image_file.h>
#include <likeness/likeness.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    likeness::Image* first = nullptr;
    likeness::Image* second = nullptr;
    if (likeness::readImageFile(argv[1], &first) != 0) return 1;
    likeness::ImagePtr ownedFirst(first);
    if (likeness::readImageFile(argv[2], &second) != 0) return 1;
    likeness::ImagePtr ownedSecond(second);
    if (likeness::checkPair(first, second) != likeness::kPairOk) return 1;
    std::printf("%dx%d SSIM %f\n", first->width, first->height, likeness::meanSSIM(first, second));
    return 0;
}
