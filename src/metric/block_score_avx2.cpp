// The block scores again, built with AVX2 enabled; only run on processors that have it.
#define LIKENESS_KERNEL kAVX2Kernel
#include "metric/block_score.cpp"
