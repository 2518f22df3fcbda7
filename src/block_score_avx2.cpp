// The block scores again, built with AVX2 enabled; only run on processors that have it.
#define LIKENESS_AVX2_KERNEL
#include "block_score.cpp"
