// A program outside the project, built against the installed library: compares two files.
#include <likeness/image_file.h>
#include <likeness/likeness.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    likeness::Image* images[2] = {nullptr, nullptr};
    const int read =
        likeness::readImageFile(argv[1], &images[0]) + likeness::readImageFile(argv[2], &images[1]);
    const likeness::ImagePtr first(images[0]), second(images[1]);
    if (read != 0 || likeness::checkPair(first.get(), second.get()) != likeness::kPairOk) return 1;
    std::printf("%dx%d SSIM %f\n", first->width, first->height,
                likeness::meanSSIM(first.get(), second.get()));
    return 0;
}
