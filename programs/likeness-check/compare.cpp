#include "likeness-check/compare.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "likeness-check/map_png.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"
#include "likeness/read_result.h"
#include "refusals.h"

namespace likeness::check {

namespace {

// Large files read fastest through a buffer this size, as readImageFile reads them.
constexpr std::size_t kFileBuffer = std::size_t{64} << 10;

// Opens a regular file or a pipe for reading without waiting for a pipe's writer; nullptr for
// anything else or a file that cannot be opened.
std::FILE* openReadable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status {};
    // Reads from a pipe wait for data again, but a pipe that no one writes to ends at once.
    if (fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode)) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) close(fd);
    return file;
}

// Scores every block, judges them and writes the map when one is asked for.
void score(const Image* first, const Image* second, std::size_t index, const Settings& settings,
           Record* record) {
    const int columns = first->width / kBlockSize;
    std::vector<double> scores(static_cast<std::size_t>(first->height / kBlockSize) *
                               static_cast<std::size_t>(columns));
    record->mean = meanSSIM(first, second, scores.data());
    judge(scores, columns, settings.thresholds, record);
    if (settings.maps.empty() || scores.empty() || (record->pass && !settings.allMaps)) return;
    const std::string path = mapPath(settings.maps, index, record->second);
    ImagePtr map = blockMap(first->width, first->height, scores);
    if (map && writePngMap(path, *map)) {
        record->map = path;
    } else {
        record->mapFailed = true;
    }
}

Problem pairProblem(const Image* first, const Image* second) {
    switch (checkPair(first, second)) {
        case kPairNotGrey:
            return Problem::kNotGrey;
        case kPairSizesDiffer:
            return Problem::kSizesDiffer;
        case kPairNotDivisible:
            return Problem::kNotDivisible;
        default:
            return Problem::kNone;
    }
}

}  // namespace

Loaded loadImage(const std::string& path, bool luma) {
    std::FILE* file = openReadable(path);
    if (file == nullptr) return {nullptr, kCannotOpen};
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kFileBuffer]);
    if (buffer) std::setvbuf(file, buffer.get(), _IOFBF, kFileBuffer);
    Image* image = nullptr;
    const int code = readImageStream(file, &image, limitsFromEnvironment());
    std::fclose(file);
    ImagePtr owned(image);
    // A file that ends inside its pixels hands over part of an image; likeness refuses it.
    if (code < 0) return {nullptr, code};
    return {comparableImage(std::move(owned), luma), kReadOk};
}

Record comparePair(const Pair& pair, std::size_t index, const Loaded* first,
                   const Settings& settings) {
    Record record;
    record.first = pair.first;
    record.second = pair.second;
    record.problem = pair.problem;
    if (record.problem != Problem::kNone) return record;
    Loaded own;
    if (first == nullptr) {
        own = loadImage(pair.first, settings.luma);
        first = &own;
    }
    if (first->code < 0) {
        record.problem = Problem::kCannotReadFirst;
        record.code = first->code;
        return record;
    }
    const Loaded second = loadImage(pair.second, settings.luma);
    if (second.code < 0) {
        record.problem = Problem::kCannotReadSecond;
        record.code = second.code;
        return record;
    }
    record.problem = pairProblem(first->image.get(), second.image.get());
    if (record.problem == Problem::kNone)
        score(first->image.get(), second.image.get(), index, settings, &record);
    return record;
}

std::string mapPath(const std::string& folder, std::size_t index, const std::string& second) {
    std::string name = second.substr(second.find_last_of('/') + 1);
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        if (!plain) c = '_';
    }
    char number[32];
    std::snprintf(number, sizeof number, "%06zu-", index + 1);
    return folder + "/" + number + name + ".png";
}

}  // namespace likeness::check
