// The grid-stride loop of every CUDA kernel: a thread's first item and the step to its next.
#pragma once

#include <cstdint>

namespace ek::cuda {

__device__ __forceinline__ uint64_t firstItem() {
  return uint64_t(blockIdx.x) * blockDim.x + threadIdx.x;
}

__device__ __forceinline__ uint64_t itemStride() { return uint64_t(gridDim.x) * blockDim.x; }

} // namespace ek::cuda
