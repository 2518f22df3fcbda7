#include "likeness-check/progress.h"

namespace likeness::check {

void Progress::step(Clock::time_point now) {
    ++done_;
    const bool last = done_ == total_;
    if (showing_ && !last && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    showing_ = true;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    // The carriage return goes back to the line's start; the erase takes what a longer line
    // left behind.
    std::fprintf(out_, "\rlikeness-check: %zu", done_);
    if (total_ > 0) std::fprintf(out_, " of %zu", total_);
    std::fputs(" pairs", out_);
    if (seconds > 0) std::fprintf(out_, ", %.1f pairs/s", static_cast<double>(done_) / seconds);
    std::fputs("\033[K", out_);
    std::fflush(out_);
}

void Progress::clear() {
    if (!showing_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    showing_ = false;
}

}  // namespace likeness::check
