// Compares pairs on several threads and hands the records on in input order.
#pragma once

#include <cstddef>
#include <functional>

#include "likeness-check/pairs.h"
#include "likeness-check/record.h"

namespace likeness::check {

using CompareFunction = std::function<Record(const Pair& pair, std::size_t index)>;
using EmitFunction = std::function<void(const Record& record)>;

// Takes every pair from source and compares it with compare on jobs threads; emit receives the
// records on the calling thread in input order, each as soon as it and all before it are done.
// At most a few records per job wait to be emitted, so memory stays at what the running
// comparisons hold, whatever the number of pairs.
void runPairs(PairSource& source, unsigned jobs, const CompareFunction& compare,
              const EmitFunction& emit);

// The processors this program may run on; at least 1.
unsigned availableProcessors();

}  // namespace likeness::check
