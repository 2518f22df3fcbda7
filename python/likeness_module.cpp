// The compiled half of the Python module likeness: image files read into NumPy arrays and
// written from them, and pairs of grey pictures in any buffer scored, with the interpreter
// released while files are read and blocks are scored.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "likeness/bmp.h"
#include "likeness/engine.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"
#include "likeness/metrics.h"

namespace py = pybind11;

namespace likeness {
namespace {

// Whether a buffer's elements are unsigned bytes, whatever byte order its format names.
bool holdsBytes(const py::buffer_info& info) {
    std::string format = info.format;
    if (!format.empty() && std::string("@=<>!|").find(format[0]) != std::string::npos) {
        format.erase(0, 1);
    }
    return format == "B" && info.itemsize == 1;
}

// Copies the bytes of a 2-D array, or of a 3-D one pixel by pixel, into compact rows.
void copyCompact(const py::buffer_info& info, std::uint8_t* to) {
    const auto* from = static_cast<const std::uint8_t*>(info.ptr);
    const py::ssize_t channels = info.ndim == 3 ? info.shape[2] : 1;
    const py::ssize_t channelStride = info.ndim == 3 ? info.strides[2] : 0;
    for (py::ssize_t y = 0; y < info.shape[0]; ++y) {
        for (py::ssize_t x = 0; x < info.shape[1]; ++x) {
            const std::uint8_t* pixel = from + y * info.strides[0] + x * info.strides[1];
            for (py::ssize_t channel = 0; channel < channels; ++channel) {
                *to++ = pixel[channel * channelStride];
            }
        }
    }
}

// The pixels of one array as the buffer protocol shows them, checked to be bytes in a 2-D array
// (grey levels) or a 3-D one of three channels (red, green, blue), as an image the engine reads.
// Rows whose bytes lie side by side are read where they are; any other layout is copied once.
class ArrayImage {
  public:
    ArrayImage(const py::buffer& buffer, const char* which) : info_(buffer.request()) {
        // Float pictures are refused rather than converted: their range would have to be guessed.
        if (!holdsBytes(info_)) {
            throw py::type_error(std::string("likeness: the ") + which +
                                 " array's elements are not uint8 (buffer format '" + info_.format +
                                 "'); give grey levels 0..255 as uint8");
        }
        if (info_.ndim != 2 && !(info_.ndim == 3 && info_.shape[2] == 3)) {
            throw py::value_error(std::string("likeness: the ") + which + " array has shape " +
                                  shapeText(info_) + ", not (height, width) or (height, width, 3)");
        }
        if (info_.shape[0] > INT32_MAX || info_.shape[1] > INT32_MAX) {
            throw py::value_error(std::string("likeness: the ") + which + " array is too large");
        }
    }

    // The image, made once the interpreter may run other threads: the array's buffer (held here)
    // outlives it.
    const Image* image() {
        const py::ssize_t channels = info_.ndim == 3 ? 3 : 1;
        image_ = Image{static_cast<int>(info_.shape[1]), static_cast<int>(info_.shape[0]),
                       static_cast<int>(8 * channels), nullptr};
        const bool compact = info_.strides[1] == channels &&
                             (channels == 1 || info_.strides[2] == 1) &&
                             info_.strides[0] == channels * info_.shape[1];
        if (compact) {
            image_.data = static_cast<std::uint8_t*>(info_.ptr);
        } else {
            copy_.resize(static_cast<std::size_t>(info_.shape[0] * info_.shape[1] * channels));
            copyCompact(info_, copy_.data());
            image_.data = copy_.data();
        }
        return &image_;
    }

    static std::string shapeText(const py::buffer_info& info) {
        std::string text = "(";
        for (py::ssize_t i = 0; i < info.ndim; ++i)
            text += (i > 0 ? ", " : "") + std::to_string(info.shape[i]);
        return text + ")";
    }

  private:
    py::buffer_info info_;
    Image image_{};
    std::vector<std::uint8_t> copy_;
};

std::string sidesText(const Comparison& comparison, bool second) {
    return "(" + std::to_string(second ? comparison.secondHeight : comparison.firstHeight) + ", " +
           std::to_string(second ? comparison.secondWidth : comparison.firstWidth) + ")";
}

// Says why two pictures could not be compared, as the programs refuse them; nothing when they were.
void raiseRefusal(const Comparison& comparison) {
    if (comparison.readResult == kOutOfMemory) throw std::bad_alloc();
    switch (comparison.verdict) {
        case kPairNotGrey:
            throw py::value_error(
                "likeness: a colour picture is not compared: a (height, width, 3) array, like a "
                "colour file, is taken as grey only when its three channels are equal");
        case kPairSizesDiffer:
            throw py::value_error(
                "likeness: the pictures' shapes differ: " + sidesText(comparison, false) + " and " +
                sidesText(comparison, true));
        case kPairNotDivisible:
            throw py::value_error("likeness: the sides " + sidesText(comparison, false) +
                                  " are not multiples of " + std::to_string(kBlockSize));
        case kMaskSizeDiffers:
            throw py::value_error("likeness: the mask's shape is not the pictures' " +
                                  sidesText(comparison, false));
        case kPairTooSmall:
            throw py::value_error("likeness: the sides " + sidesText(comparison, false) +
                                  " are too small for one window of the metric");
        default:
            return;
    }
}

// A boolean array of the pixels left out (True), as the engine's 8-bit mask, copied compact.
class ArrayMask {
  public:
    explicit ArrayMask(const py::buffer& buffer) {
        const py::buffer_info info = buffer.request();
        if (info.format != "?" || info.itemsize != 1 || info.ndim != 2) {
            throw py::type_error("likeness: the mask is not a 2-D bool array (buffer format '" +
                                 info.format + "', " + std::to_string(info.ndim) + " dimensions)");
        }
        if (info.shape[0] > INT32_MAX || info.shape[1] > INT32_MAX)
            throw py::value_error("likeness: the mask is too large");
        levels_.resize(static_cast<std::size_t>(info.shape[0] * info.shape[1]));
        copyCompact(info, levels_.data());
        image_ = Image{static_cast<int>(info.shape[1]), static_cast<int>(info.shape[0]), 8,
                       levels_.data()};
    }
    const Image* image() const { return &image_; }

  private:
    std::vector<std::uint8_t> levels_;
    Image image_{};
};

// The metric of that name, or ValueError.
Metric metricOf(const std::string& name) {
    Metric metric = Metric::kBlocks;
    if (!metricNamed(name, &metric)) {
        throw py::value_error("likeness: no metric is named '" + name +
                              "' (blocks, wang, wang-scaled, ffmpeg or skimage)");
    }
    return metric;
}

// Two arrays compared by the engine, with the interpreter free to run other threads meanwhile.
Comparison compareArrays(const py::buffer& a, const py::buffer& b, bool blockScores,
                         const std::optional<py::buffer>& mask, bool colour,
                         const std::string& metric) {
    ArrayImage first(a, "first");
    ArrayImage second(b, "second");
    std::optional<ArrayMask> leftOut;
    CompareOptions options;
    options.blockScores = blockScores;
    options.colour = colour;
    if (mask) options.ignored.masks.push_back(leftOut.emplace(*mask).image());
    options.metric = metricOf(metric);
    Comparison comparison;
    {
        py::gil_scoped_release release;
        comparison = compare(imageSource(first.image()), imageSource(second.image()), options);
    }
    raiseRefusal(comparison);
    return comparison;
}

double ssim(const py::buffer& a, const py::buffer& b, const std::optional<py::buffer>& mask,
            bool colour, const std::string& metric) {
    return compareArrays(a, b, false, mask, colour, metric).mean;
}

// The windows' scores as their grid: a row of the array a row of windows.
py::array_t<double> scoresArray(const Comparison& comparison) {
    py::array_t<double> scores({comparison.windows.rows, comparison.windows.columns});
    std::copy(comparison.scores.begin(), comparison.scores.end(), scores.mutable_data());
    return scores;
}

// Windows left out score a not-a-number.
py::array_t<double> blockScores(const py::buffer& a, const py::buffer& b,
                                const std::optional<py::buffer>& mask, bool colour,
                                const std::string& metric) {
    Comparison comparison = compareArrays(a, b, true, mask, colour, metric);
    for (std::size_t i = 0; i < comparison.leftOut.size(); ++i) {
        if (comparison.leftOut[i]) comparison.scores[i] = std::nan("");
    }
    return scoresArray(comparison);
}

// (code, which, mean, scores) for two files compared as the programs compare them: the reader's
// code and which file (1 or 2) when one cannot be read, else 0; Python's side raises for it.
py::tuple compareFiles(const std::string& first, const std::string& second, bool blocks,
                       const std::string& metric) {
    CompareOptions options;
    options.limits = limitsFromEnvironment();
    options.blockScores = blocks;
    options.metric = metricOf(metric);
    Comparison comparison;
    int error = 0;
    {
        py::gil_scoped_release release;
        errno = 0;
        comparison = compare(fileSource(first.c_str()), fileSource(second.c_str()), options);
        error = errno;
    }
    if (comparison.verdict == kFirstUnreadable || comparison.verdict == kSecondUnreadable) {
        if (comparison.readResult == kOutOfMemory) throw std::bad_alloc();
        return py::make_tuple(comparison.readResult, comparison.verdict == kFirstUnreadable ? 1 : 2,
                              comparison.readResult == kCannotOpen ? error : 0, py::none());
    }
    raiseRefusal(comparison);
    py::object scores = blocks ? py::object(scoresArray(comparison)) : py::none();
    return py::make_tuple(0, 0, comparison.mean, scores);
}

// An image handed to NumPy without a copy: the array's base owns it and disposes of it.
py::array arrayOwning(ImagePtr image) {
    std::vector<py::ssize_t> shape{image->height, image->width};
    if (image->depth == 24) shape.push_back(3);
    const std::uint8_t* data = image->data;
    py::capsule owner(image.get(), [](void* owned) { disposeImage(static_cast<Image*>(owned)); });
    image.release();
    return py::array_t<std::uint8_t>(shape, data, owner);
}

// (code, errno, array): the reader's result code, the error number of a file that could not be
// opened, and the picture when the code is 0. Python's side turns a refusal into its exception.
py::tuple read(const std::string& path) {
    Image* raw = nullptr;
    int code = kReadOk;
    int error = 0;
    {
        py::gil_scoped_release release;
        errno = 0;
        code = readImageFile(path.c_str(), &raw);
        error = errno;
    }
    ImagePtr image(raw);
    if (code == kOutOfMemory) throw std::bad_alloc();
    if (code != kReadOk) return py::make_tuple(code, code == kCannotOpen ? error : 0, py::none());
    return py::make_tuple(code, 0, arrayOwning(std::move(image)));
}

// An image of the array's levels: (height, width) as 8-bit, (height, width, 3) as 24-bit.
ImagePtr imageOf(const py::buffer& buffer) {
    const py::buffer_info info = buffer.request();
    if (!holdsBytes(info)) throw py::type_error("likeness: write_bmp takes a uint8 array");
    const bool colour = info.ndim == 3 && info.shape[2] == 3;
    if (info.ndim != 2 && !colour) {
        throw py::value_error(
            "likeness: write_bmp takes shape (height, width) or (height, width, 3)");
    }
    if (info.shape[0] > INT32_MAX || info.shape[1] > INT32_MAX) {
        throw py::value_error("likeness: the picture is larger than a BMP file holds");
    }
    ImagePtr image(createImage(static_cast<int>(info.shape[1]), static_cast<int>(info.shape[0]),
                               colour ? 24 : 8));
    if (!image) throw py::value_error("likeness: the picture is larger than 2^31 - 1 bytes");
    py::gil_scoped_release release;
    copyCompact(info, image->data);
    return image;
}

// 0 when the whole file was written, else the error number of the failed open or write.
int writeBMP(const std::string& path, const py::buffer& buffer) {
    const ImagePtr image = imageOf(buffer);
    py::gil_scoped_release release;
    errno = 0;
    if (writeBMPfile(path.c_str(), image.get()) == 0) return 0;
    return errno != 0 ? errno : EIO;
}

}  // namespace
}  // namespace likeness

PYBIND11_MODULE(_core, module) {
    module.doc() = "The compiled part of likeness; use the functions of the likeness package.";
    module.def("ssim", &likeness::ssim, py::arg("a"), py::arg("b"), py::arg("mask") = py::none(),
               py::arg("colour") = false, py::arg("metric") = "blocks",
               "Mean SSIM of two uint8 arrays, grey or of three equal channels, by the metric "
               "named; windows touching a True pixel of mask left out.");
    module.def("block_scores", &likeness::blockScores, py::arg("a"), py::arg("b"),
               py::arg("mask") = py::none(), py::arg("colour") = false,
               py::arg("metric") = "blocks",
               "Every window's SSIM, a float64 array of the windows' grid; NaN for a window left "
               "out.");
    module.def("compare", &likeness::compareFiles, py::arg("first"), py::arg("second"),
               py::arg("blocks"), py::arg("metric"),
               "(code, which, mean or errno, scores) of two image files (paths as bytes).");
    module.def("read", &likeness::read, py::arg("path"),
               "(code, errno, array) of the image file at path (bytes).");
    module.def("write_bmp", &likeness::writeBMP, py::arg("path"), py::arg("array"),
               "Writes a uint8 array as a BMP file at path (bytes); 0, or the error number.");
}
