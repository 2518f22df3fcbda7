// The one way two pictures are compared: every program and binding goes through compare(), so
// that each decides in the same place what a file is, when a colour file is grey and in which
// order the two are judged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "image.h"
#include "metrics.h"
#include "read_limits.h"

namespace likeness {

// Where one of the two pictures comes from: a file named by its path, an open stream read from
// where it stands (a pipe will do; the caller closes it), or an image the caller holds and keeps
// until compare() returns.
struct Source {
    const char* path = nullptr;
    std::FILE* stream = nullptr;
    const Image* image = nullptr;
};

inline Source fileSource(const char* path) {
    return Source{path, nullptr, nullptr};
}
inline Source streamSource(std::FILE* stream) {
    return Source{nullptr, stream, nullptr};
}
inline Source imageSource(const Image* image) {
    return Source{nullptr, nullptr, image};
}

// A rectangle of pixels: the column and row of its top-left pixel (row 0 on top), and its sides.
struct Rectangle {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Pixels a comparison leaves out: a window that holds one of them is not scored.
struct Ignored {
    std::vector<Rectangle> rectangles;  // their parts outside the picture are clipped
    // 8-bit pictures of the pair's size, each pixel not 0 left out; the caller keeps them until
    // compare() returns.
    std::vector<const Image*> masks;
    bool empty() const { return rectangles.empty() && masks.empty(); }
};

struct CompareOptions {
    ReadLimits limits;
    Metric metric = Metric::kBlocks;
    // A 24-bit picture is scored channel by channel, red, green and blue each as a grey picture,
    // and each window by the lowest of its three scores. Takes the place of luma.
    bool colour = false;
    // A 24-bit picture is compared by its luma, Y = (299 R + 587 G + 114 B + 500) / 1000, rather
    // than refused as colour when a pixel is not grey.
    bool luma = false;
    // The result keeps every block's score, block rows top first and each row from the left.
    bool blockScores = false;
    Ignored ignored;
};

constexpr int kFirstUnreadable = -1;
constexpr int kSecondUnreadable = -2;
constexpr int kMaskSizeDiffers = -3;  // a mask is not of the pair's size

// What comparing two pictures came to. The verdict is the first failure in this order: the first
// picture cannot be read, the second cannot, either is not grey, their sizes differ, their sides
// do not suit the metric (the PairCheck values), a mask is not of their size; kPairOk when they
// were compared.
struct Comparison {
    int verdict =
        0;  // kPairOk, kFirstUnreadable, kSecondUnreadable, kMaskSizeDiffers or a PairCheck
    int readResult = 0;  // for an unreadable picture: the reader's ReadResult
    int firstWidth = 0;  // the sides, once both pictures are read
    int firstHeight = 0;
    int secondWidth = 0;
    int secondHeight = 0;
    // For kPairOk: the mean of the scored windows' scores, added in row order (for blocks, the
    // bits meanSSIM gives on the same levels); a not-a-number when no window is scored.
    double mean = 0;
    Windows windows;          // for kPairOk: where the metric's windows lie
    std::size_t ignored = 0;  // windows left out for the pixels they hold
    // With colour: each channel's mean over the scored windows, red, green, blue.
    std::array<double, 3> channels{};
    // With CompareOptions::blockScores, for kPairOk: every window's score in row order, and
    // which were left out (empty when none was).
    std::vector<double> scores;
    std::vector<bool> leftOut;
};

// Compares the two pictures. A 24-bit picture whose every pixel is grey is compared as its 8-bit
// twin (or, with luma, any 24-bit picture as its luma). The second file is opened only once the
// first has been found readable as far as its header. Files are read a band of rows at a time as
// they are scored, both at once on two threads when the pair is large, and the scores are added in
// order, so that the mean has the bits of reading both whole and scoring them with meanSSIM.
// Another metric, colour or pixels left out take both pictures read whole instead, two large
// regular files both at once on two threads (a pipe or stream still only once the first picture
// is found readable; the verdict keeps its order). When
// memory or a thread cannot be had, the picture being read is unreadable with kOutOfMemory; the
// call never throws. A second thread may still be releasing its buffers for a moment after the
// call returns; it uses nothing of the caller's by then.
Comparison compare(const Source& first, const Source& second, const CompareOptions& options = {});

// Reads the picture of a path or stream source whole, as compare() reads a file, into a new image
// handed over through out, for a caller that compares one picture with many: kReadOk or the
// reader's code (no image is handed over then).
int readSource(const Source& source, const ReadLimits& limits, Image** out);

}  // namespace likeness
