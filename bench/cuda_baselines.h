// Baselines of the benchmarks on the CUDA backend.
#pragma once

#include <vector>

#include "kernels/additive.h"

namespace ek::bench {

// Median milliseconds of the bare kernel over `repeat` runs (clearing the image each time).
double bareAtomicMs(const std::vector<SplatSample> &hits, uint64_t pixels, int repeat);

// cudaMemset plus one read-and-write kernel over a buffer of `floats` floats.
double memoryPassMs(uint64_t floats);

} // namespace ek::bench
