// How far a run has come, in one line on a terminal that is rewritten in place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

namespace likeness::check {

class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    // Shows the run on out, a terminal; total is the number of pairs, 0 when it is not known.
    Progress(std::FILE* out, std::size_t total, Clock::time_point start = Clock::now())
        : out_(out), total_(total), start_(start) {}

    // Counts one more pair done and redraws the line, at most ten times a second and always
    // for the last pair.
    void step(Clock::time_point now = Clock::now());

    // Clears the line, so that a message or the shell's prompt starts on a clean line; the next
    // step draws it again.
    void clear();

  private:
    std::FILE* out_;
    std::size_t total_;
    Clock::time_point start_;
    Clock::time_point drawn_{};
    std::size_t done_ = 0;
    bool showing_ = false;
};

}  // namespace likeness::check
