#include "likeness-check/difference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "likeness/likeness.h"

namespace likeness::check {

namespace {

// How red a window that scored s is drawn, 1 to 255: a window just short of its bound is still
// plainly red, and one that scored 0 or less (unrelated pictures) as red as it gets.
std::uint8_t tintOf(double score) {
    const double shortfall = std::clamp(1.0 - score, 0.0, 1.0);
    return static_cast<std::uint8_t>(std::lround(90.0 + 165.0 * shortfall));
}

bool fits(const Image& picture, const Windows& grid, std::size_t scores) {
    if (grid.columns < 0 || grid.rows < 0 || grid.step < 1 || grid.size < 1) return false;
    const std::int64_t columns = grid.columns;
    const std::int64_t rows = grid.rows;
    if (columns * rows != static_cast<std::int64_t>(scores)) return false;
    const auto reach = [&grid](std::int64_t count) {
        return count == 0 ? 0 : (count - 1) * grid.step + grid.size;
    };
    return reach(columns) <= picture.width && reach(rows) <= picture.height;
}

// Each pixel's tint, 0 where it is left grey: the strongest of the windows that cover it.
std::vector<std::uint8_t> tints(const Image& picture, const Windows& grid,
                                const std::vector<double>& scores,
                                const std::optional<double>& bound, std::size_t worst) {
    std::vector<std::uint8_t> tint(static_cast<std::size_t>(picture.width) *
                                   static_cast<std::size_t>(picture.height));
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const bool marked = bound ? scores[i] < *bound : i == worst;
        if (!marked || std::isnan(scores[i])) continue;
        const std::uint8_t strength = tintOf(scores[i]);
        const int x0 = static_cast<int>(i % static_cast<std::size_t>(grid.columns)) * grid.step;
        const int y0 = static_cast<int>(i / static_cast<std::size_t>(grid.columns)) * grid.step;
        for (int y = y0; y < y0 + grid.size; ++y) {
            std::uint8_t* row = tint.data() + static_cast<std::size_t>(y) * picture.width;
            for (int x = x0; x < x0 + grid.size; ++x) row[x] = std::max(row[x], strength);
        }
    }
    return tint;
}

// The border pixels of the window worst, in black.
void outline(Image* drawing, const Windows& grid, std::size_t worst) {
    const int x0 = static_cast<int>(worst % static_cast<std::size_t>(grid.columns)) * grid.step;
    const int y0 = static_cast<int>(worst / static_cast<std::size_t>(grid.columns)) * grid.step;
    const int last = grid.size - 1;
    for (int y = 0; y <= last; ++y) {
        for (int x = 0; x <= last; ++x) {
            if (x != 0 && y != 0 && x != last && y != last) continue;
            const std::size_t at = 3 * (static_cast<std::size_t>(y0 + y) * drawing->width + x0 + x);
            std::fill_n(drawing->data + at, 3, std::uint8_t{0});
        }
    }
}

}  // namespace

std::size_t windowAt(const Windows& grid, int x, int y) {
    return static_cast<std::size_t>(y / grid.step) * static_cast<std::size_t>(grid.columns) +
           static_cast<std::size_t>(x / grid.step);
}

ImagePtr drawDifference(const Image& second, const Windows& grid, const std::vector<double>& scores,
                        const std::optional<double>& bound, std::size_t worst) {
    if ((second.depth != 8 && second.depth != 24) || !fits(second, grid, scores.size()))
        return nullptr;
    ImagePtr luma(second.depth == 24 ? createLumaImage(&second) : nullptr);
    if (second.depth == 24 && !luma) return nullptr;
    const std::uint8_t* grey = luma ? luma->data : second.data;
    ImagePtr drawing(createImage(second.width, second.height, 24));
    if (!drawing) return nullptr;
    const std::vector<std::uint8_t> tint = tints(second, grid, scores, bound, worst);
    for (std::size_t i = 0; i < tint.size(); ++i) {
        // Lightened to 153..255, so that the page stays legible under the red and the outline.
        const int light = 255 - ((255 - grey[i]) * 2 + 2) / 5;
        const int k = tint[i];
        std::uint8_t* pixel = drawing->data + 3 * i;
        pixel[0] = static_cast<std::uint8_t>(light + ((255 - light) * k + 127) / 255);
        pixel[1] = pixel[2] = static_cast<std::uint8_t>((light * (255 - k) + 127) / 255);
    }
    if (worst < scores.size()) outline(drawing.get(), grid, worst);
    return drawing;
}

}  // namespace likeness::check
