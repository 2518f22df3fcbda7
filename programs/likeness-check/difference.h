// The picture of a pair's difference that a reviewer reads at a glance: the second picture in
// light grey, the windows that fell short tinted red.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "likeness/image.h"

namespace likeness::check {

// Where a metric's local windows lie: columns x rows square windows of size pixels a side, whose
// top-left pixels lie step pixels apart, the first at (0, 0); scores come one a window, rows top
// first and each row from the left. Windows may overlap (step below size).
struct WindowGrid {
    int columns = 0;
    int rows = 0;
    int step = 0;
    int size = 0;
};

// The grid of block SSIM: kBlockSize x kBlockSize blocks side by side.
WindowGrid blockGrid(int width, int height);

// The window whose top-left pixel is (x, y) on the grid.
std::size_t windowAt(const WindowGrid& grid, int x, int y);

// An RGB picture of second's size: second in grey (a colour picture by its luma), lightened, with
// every window scoring below bound tinted red, the more the lower it scored (without a bound,
// the window worst alone), a pixel in several such windows as its lowest; and the window worst
// outlined in black along its own border pixels. Every other pixel has equal red, green and
// blue. A score that is not a number (a window left out) is never tinted. nullptr when memory is
// exhausted, or for a picture of another depth or too small for the grid.
ImagePtr drawDifference(const Image& second, const WindowGrid& grid,
                        const std::vector<double>& scores, const std::optional<double>& bound,
                        std::size_t worst);

}  // namespace likeness::check
