// The compiled half of the Python module likeness: image files read into NumPy arrays and
// written from them, and pairs of grey pictures in any buffer scored, with the interpreter
// released while files are read and blocks are scored.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "likeness/bmp.h"
#include "likeness/image_file.h"
#include "likeness/likeness.h"

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

// The levels of one array as the buffer protocol shows them, checked to be a 2-D array of bytes.
// Rows whose bytes lie side by side are scored where they are; any other layout is copied once
// into compact rows.
class Picture {
  public:
    Picture(const py::buffer& buffer, const char* which) : info_(buffer.request()) {
        // Float pictures are refused rather than converted: their range would have to be guessed.
        if (!holdsBytes(info_)) {
            throw py::type_error(std::string("likeness: the ") + which +
                                 " array's elements are not uint8 (buffer format '" + info_.format +
                                 "'); give grey levels 0..255 as uint8");
        }
        if (info_.ndim != 2) {
            throw py::value_error(std::string("likeness: the ") + which + " array has " +
                                  std::to_string(info_.ndim) +
                                  " dimensions, not 2 (height, width)");
        }
    }

    py::ssize_t height() const { return info_.shape[0]; }
    py::ssize_t width() const { return info_.shape[1]; }

    // The rows to score: the array's own, or a compact copy of another layout made here.
    GreyRows rows() {
        if (info_.strides[1] == 1 && info_.strides[0] >= 0) {
            return {static_cast<const std::uint8_t*>(info_.ptr),
                    static_cast<std::ptrdiff_t>(info_.strides[0])};
        }
        copy_.resize(static_cast<std::size_t>(height() * width()));
        copyCompact(info_, copy_.data());
        return {copy_.data(), static_cast<std::ptrdiff_t>(width())};
    }

  private:
    py::buffer_info info_;
    std::vector<std::uint8_t> copy_;
};

std::string shapeText(const Picture& picture) {
    return "(" + std::to_string(picture.height()) + ", " + std::to_string(picture.width()) + ")";
}

// Says why two checked pictures cannot be compared, in the order of checkPair.
void checkComparable(const Picture& first, const Picture& second) {
    if (first.height() != second.height() || first.width() != second.width()) {
        throw py::value_error("likeness: the arrays' shapes differ: " + shapeText(first) + " and " +
                              shapeText(second));
    }
    if (first.height() % kBlockSize != 0 || first.width() % kBlockSize != 0) {
        throw py::value_error("likeness: the sides " + shapeText(first) + " are not multiples of " +
                              std::to_string(kBlockSize));
    }
}

// meanSSIMofRows of two arrays, filling scores when given; the interpreter runs other threads
// meanwhile, so the arrays' buffers (held by the pictures) must outlive this call.
double scorePair(Picture& first, Picture& second, double* scores) {
    py::gil_scoped_release release;
    const GreyRows firstRows = first.rows();
    const GreyRows secondRows = second.rows();
    return meanSSIMofRows(firstRows, secondRows, static_cast<std::size_t>(first.width()),
                          static_cast<std::size_t>(first.height()), scores);
}

double ssim(const py::buffer& a, const py::buffer& b) {
    Picture first(a, "first");
    Picture second(b, "second");
    checkComparable(first, second);
    return scorePair(first, second, nullptr);
}

py::array_t<double> blockScores(const py::buffer& a, const py::buffer& b) {
    Picture first(a, "first");
    Picture second(b, "second");
    checkComparable(first, second);
    py::array_t<double> scores({first.height() / kBlockSize, first.width() / kBlockSize});
    scorePair(first, second, scores.mutable_data());
    return scores;
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
    module.def("ssim", &likeness::ssim, py::arg("a"), py::arg("b"),
               "Mean block SSIM of two 2-D uint8 arrays of the same shape, sides multiples of 8.");
    module.def("block_scores", &likeness::blockScores, py::arg("a"), py::arg("b"),
               "Every 8 x 8 block's SSIM, a float64 array of shape (height / 8, width / 8).");
    module.def("read", &likeness::read, py::arg("path"),
               "(code, errno, array) of the image file at path (bytes).");
    module.def("write_bmp", &likeness::writeBMP, py::arg("path"), py::arg("array"),
               "Writes a uint8 array as a BMP file at path (bytes); 0, or the error number.");
}
