// The CUDA baseline of the additive benchmark: four atomicAdd per sample at precomputed pixels.
#pragma once

#include <vector>

#include "kernels/additive.h"

namespace ek::bench {

// Median milliseconds of the bare kernel over `repeat` runs (clearing the image each time).
double bareAtomicMs(const std::vector<SplatSample>& hits, uint64_t pixels, int repeat);

} // namespace ek::bench
