// The block scores again, built with AVX-512 F and BW enabled; only run on processors that have
// them.
#define LIKENESS_KERNEL kAVX512Kernel
#include "block_score.cpp"
