// The block scores again, built with AVX-512 F, BW and VNNI enabled; only run on processors that
// have them.
#define LIKENESS_KERNEL kAVX512Kernel
#include "metric/block_score.cpp"
