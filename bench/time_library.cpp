// time_library FIRST SECOND RUNS: the median time, in seconds, of reading FIRST with
// readImageFile and of meanSSIM on the two images, each over RUNS runs; the yardstick that
// bench/python.py holds the Python module to.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "likeness/image_file.h"
#include "likeness/likeness.h"

namespace {

double medianSeconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

likeness::ImagePtr readOrNone(const char* path) {
    likeness::Image* image = nullptr;
    const int code = likeness::readImageFile(path, &image);
    likeness::ImagePtr owned(image);
    return code == likeness::kReadOk ? std::move(owned) : nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: time_library FIRST SECOND RUNS\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[3]));
    const likeness::ImagePtr first = readOrNone(argv[1]);
    const likeness::ImagePtr second = readOrNone(argv[2]);
    if (!first || !second) {
        std::fprintf(stderr, "time_library: cannot read the pair\n");
        return 1;
    }
    const double read = medianSeconds(runs, [&] { readOrNone(argv[1]); });
    double mean = 0;
    const double score = medianSeconds(runs, [&] { mean = meanSSIM(first.get(), second.get()); });
    std::printf("read %.6f\nssim %.6f\nmean %f\n", read, score, mean);
    return 0;
}
