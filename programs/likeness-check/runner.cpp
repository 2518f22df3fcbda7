#include "likeness-check/runner.h"

#include <sched.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace likeness::check {

namespace {

class Runner {
  public:
    Runner(PairSource& source, unsigned jobs, const CompareFunction& compare)
        : source_(source), window_(2 * std::size_t{jobs}), compare_(compare) {}

    // One thread's work: take the next pair while the window has room, compare, hand over.
    void work() {
        for (;;) {
            {
                std::unique_lock lock(state_);
                changed_.wait(lock, [this] { return exhausted_ || taken_ - written_ < window_; });
                if (exhausted_) return;
            }
            Pair pair;
            std::size_t index = 0;
            if (!take(&pair, &index)) return;
            Record record = compare_(pair, index);
            std::lock_guard lock(state_);
            done_.emplace(index, std::move(record));
            changed_.notify_all();
        }
    }

    void emitInOrder(const EmitFunction& emit) {
        for (std::size_t next = 0;; ++next) {
            std::unique_lock lock(state_);
            changed_.wait(lock,
                          [&] { return done_.count(next) || (exhausted_ && next == taken_); });
            const auto found = done_.find(next);
            if (found == done_.end()) return;
            const Record record = std::move(found->second);
            done_.erase(found);
            written_ = next + 1;
            lock.unlock();
            changed_.notify_all();
            emit(record);
        }
    }

  private:
    // The pair and its number in the input; false when the source is exhausted. The source is
    // read under a lock of its own, so that a slow list does not hold up finished records.
    bool take(Pair* pair, std::size_t* index) {
        std::lock_guard sourceLock(sourceMutex_);
        const bool more = source_.next(pair);
        std::lock_guard lock(state_);
        if (!more) {
            exhausted_ = true;
            changed_.notify_all();
            return false;
        }
        *index = taken_++;
        return true;
    }

    PairSource& source_;
    const std::size_t window_;
    const CompareFunction& compare_;
    std::mutex sourceMutex_;
    std::mutex state_;
    std::condition_variable changed_;
    std::map<std::size_t, Record> done_;
    std::size_t taken_ = 0;
    std::size_t written_ = 0;
    bool exhausted_ = false;
};

}  // namespace

void runPairs(PairSource& source, unsigned jobs, const CompareFunction& compare,
              const EmitFunction& emit) {
    Runner runner(source, jobs, compare);
    std::vector<std::thread> threads;
    threads.reserve(jobs);
    for (unsigned i = 0; i < jobs; ++i) {
        try {
            threads.emplace_back([&runner] { runner.work(); });
        } catch (const std::system_error&) {
            // Fewer threads than asked for, as many as there are to be had.
            break;
        }
    }
    if (threads.empty()) {
        // No thread at all: the pairs are compared one after the other.
        Pair pair;
        for (std::size_t index = 0; source.next(&pair); ++index) emit(compare(pair, index));
        return;
    }
    runner.emitInOrder(emit);
    for (std::thread& thread : threads) thread.join();
}

unsigned availableProcessors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace likeness::check
