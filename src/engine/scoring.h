// The two ways a pair of pictures is scored. Internal to the library.
#pragma once

#include "engine/source_reader.h"

namespace likeness {

// Pictures whose rows lie in regular files or in memory: both threads take pieces of both files
// as they come. Returns the mean of the block scores, added in row order, and fills out with them
// when given; marks colour and a file that shrank meanwhile.
double scoreLocated(SourceReader* first, SourceReader* second, double* out);

// Pictures of which at least one is decoded: the second is read on a thread of its own while
// the first is read and scored as the second's rows arrive. The same mean, scores and marks.
double scoreStreamed(SourceReader* first, SourceReader* second, double* out);

}  // namespace likeness
