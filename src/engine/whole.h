// Pairs scored from both pictures read whole: by a metric other than the blocks, by colour
// channel by channel, or with pixels left out. Internal to the library.
#pragma once

#include "likeness/engine.h"

namespace likeness {

// Whether a comparison with these options takes both pictures whole.
bool readsWhole(const CompareOptions& options);

// compare() for such options: the same verdicts in the same order, then the mask sizes.
Comparison compareWhole(const Source& first, const Source& second, const CompareOptions& options);

}  // namespace likeness
