#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/scoring.h"
#include "engine/scoring_memory.h"
#include "metric/block_score.h"

namespace likeness {

namespace {

// Rows are handed from one thread to the other in slots of about this many bytes of the wider
// picture's stored rows: few hand-overs, and a slot still in the cache when it is scored.
constexpr std::size_t kSlotBytes = std::size_t{256} << 10;
// Slots the second picture may be read ahead by: enough that neither thread waits on the other's
// passing stalls, few enough that memory stays a few bands.
constexpr int kSlots = 4;
// Decoding a picture costs far more than scoring it, so a second thread pays off on pairs much
// smaller than those read where they lie.
constexpr std::int64_t kThreadedPixels = std::int64_t{1} << 18;

// Buffers for a slot of rows of one picture, as stored or decoded and as grey levels.
struct RowBuffers {
    RowBuffers(const SourceReader& picture, int rows)
        : stored(storedRowBytes(picture) * static_cast<std::size_t>(rows)),
          grey(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(rows)) {}
    ScoringMemory stored;
    ScoringMemory grey;
    GreyRows rows{nullptr, 0};
};

// The second picture's rows, a slot at a time, read on a thread of their own when one can be had,
// or else on the caller's when they are taken.
class SecondRows {
  public:
    SecondRows(SourceReader* picture, int slotRows, bool threaded)
        : picture_(picture),
          slotRows_(slotRows),
          slotCount_((picture->height + slotRows - 1) / slotRows) {
        for (int i = 0; i < kSlots; ++i) slots_.emplace_back(*picture, slotRows);
        if (!threaded) return;
        try {
            thread_ = std::thread([this] { readAll(); });
        } catch (const std::system_error&) {
            // Without a second thread the rows are read when they are taken.
        }
    }

    ~SecondRows() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    SecondRows(const SecondRows&) = delete;
    SecondRows& operator=(const SecondRows&) = delete;

    // The rows of slot index, once they are read.
    GreyRows take(int index) {
        if (!thread_.joinable()) {
            read(index);
            if (index + 1 == slotCount_) finishSource(picture_);
        } else {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return read_ > index; });
        }
        return slots_[static_cast<std::size_t>(index % kSlots)].rows;
    }

    // Slot index has been scored: its buffers may take further rows.
    void release(int index) {
        {
            std::lock_guard lock(mutex_);
            released_ = index + 1;
        }
        changed_.notify_all();
    }

  private:
    void read(int index) {
        RowBuffers& slot = slots_[static_cast<std::size_t>(index % kSlots)];
        const int y0 = index * slotRows_;
        slot.rows = nextRows(picture_, y0, std::min(slotRows_, picture_->height - y0),
                             slot.stored.data(), slot.grey.data());
    }

    void readAll() {
        for (int index = 0; index < slotCount_; ++index) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stopped_ || index - released_ < kSlots; });
                if (stopped_) return;
            }
            read(index);
            if (index + 1 == slotCount_) finishSource(picture_);
            {
                std::lock_guard lock(mutex_);
                read_ = index + 1;
            }
            changed_.notify_all();
        }
    }

    SourceReader* picture_;
    const int slotRows_;
    const int slotCount_;
    std::deque<RowBuffers> slots_;  // kept in place: their memory is not moved
    std::mutex mutex_;
    std::condition_variable changed_;
    int read_ = 0;      // slots read
    int released_ = 0;  // slots scored
    bool stopped_ = false;
    std::thread thread_;
};

// Rows in a slot: whole bands, as many as fit in kSlotBytes of the wider picture, at least one.
int rowsPerSlot(const SourceReader& first, const SourceReader& second) {
    const std::size_t band = kBlockSize * std::max(storedRowBytes(first), storedRowBytes(second));
    return kBlockSize * static_cast<int>(std::max<std::size_t>(kSlotBytes / band, 1));
}

}  // namespace

double scoreStreamed(SourceReader* first, SourceReader* second, double* out) {
    const int slotRows = rowsPerSlot(*first, *second);
    const auto columns = static_cast<std::size_t>(first->width / kBlockSize);
    const bool threaded = std::int64_t{first->width} * first->height >= kThreadedPixels &&
                          std::thread::hardware_concurrency() >= 2;
    RowBuffers own(*first, slotRows);
    std::vector<double> band(columns);
    double sum = 0.0;
    {
        SecondRows theirs(second, slotRows, threaded);
        for (int index = 0, y0 = 0; y0 < first->height; ++index, y0 += slotRows) {
            const int rows = std::min(slotRows, first->height - y0);
            const GreyRows a = nextRows(first, y0, rows, own.stored.data(), own.grey.data());
            const GreyRows b = theirs.take(index);
            for (std::ptrdiff_t row = 0; row < rows; row += kBlockSize) {
                double* scores = out != nullptr ? out : band.data();
                scoreBand({a.data + row * a.stride, a.stride}, {b.data + row * b.stride, b.stride},
                          static_cast<std::size_t>(first->width), scores);
                for (std::size_t block = 0; block < columns; ++block) sum += scores[block];
                if (out != nullptr) out += columns;
            }
            theirs.release(index);
        }
    }
    finishSource(first);
    const auto bands = static_cast<std::size_t>(first->height / kBlockSize);
    return sum / static_cast<double>(bands * columns);
}

}  // namespace likeness
