// The allocation cap both fuzzers run under (allocation_cap.cpp).
#pragma once

#include <cstddef>

namespace fuzzing {

// How many times the throwing operator new has been refused memory since the process started.
std::size_t refusedAllocations();

}  // namespace fuzzing
