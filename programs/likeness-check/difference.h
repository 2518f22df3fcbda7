// The picture of a pair's difference that a reviewer reads at a glance: the second picture in
// light grey, the windows that fell short tinted red.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "likeness/image.h"
#include "likeness/metrics.h"

namespace likeness::check {

// The window whose top-left pixel is (x, y) among the windows.
std::size_t windowAt(const Windows& grid, int x, int y);

// An RGB picture of second's size: second in grey (a colour picture by its luma), lightened, with
// every window scoring below bound tinted red, the more the lower it scored (without a bound,
// the window worst alone), a pixel in several such windows as its lowest; and the window worst
// outlined in black along its own border pixels. Every other pixel has equal red, green and
// blue. A score that is not a number (a window left out) is never tinted. nullptr when memory is
// exhausted, or for a picture of another depth or too small for the grid.
ImagePtr drawDifference(const Image& second, const Windows& grid, const std::vector<double>& scores,
                        const std::optional<double>& bound, std::size_t worst);

}  // namespace likeness::check
