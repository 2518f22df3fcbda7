#include "formats/row_source.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "formats/reading.h"

namespace likeness {

namespace {

class ImageRows final : public RowSource {
  public:
    explicit ImageRows(ImagePtr image) : image_(std::move(image)) {
        width_ = image_->width;
        height_ = image_->height;
        depth_ = image_->depth;
    }

    int readRows(std::uint8_t* rows, std::size_t stride, int count) override {
        const std::size_t bytes =
            static_cast<std::size_t>(width_) * static_cast<std::size_t>(depth_ / 8);
        if (count > height_ - next_) return kDecoderRefused;
        for (int row = 0; row < count; ++row, ++next_) {
            std::memcpy(rows + static_cast<std::size_t>(row) * stride,
                        image_->data + static_cast<std::size_t>(next_) * bytes, bytes);
        }
        return kReadOk;
    }

    int finish() override { return kReadOk; }

  private:
    ImagePtr image_;
    int next_ = 0;  // the next row to hand over
};

}  // namespace

RowSourcePtr rowsOfImage(ImagePtr image) {
    return RowSourcePtr(new (std::nothrow) ImageRows(std::move(image)));
}

int readAllRows(RowSource* source, Image** out) {
    Image* raw = nullptr;
    int result = newImage(source->width(), source->height(), source->depth(), &raw);
    ImagePtr image(raw);
    const std::size_t stride =
        static_cast<std::size_t>(source->width()) * static_cast<std::size_t>(source->depth() / 8);
    if (result == kReadOk) result = source->readRows(image->data, stride, source->height());
    if (result == kReadOk) result = source->finish();
    if (result == kReadOk) *out = image.release();
    return result;
}

int readAllRows(Format format, PeekedStream* stream, Image** out, const ReadLimits& limits) {
    RowSourcePtr rows;
    const int result = openRows(format, stream, limits, &rows);
    return result == kReadOk ? readAllRows(rows.get(), out) : result;
}

}  // namespace likeness
