// The launch of the CUDA kernels, defined beside them in cuda_kernels.cu.
#pragma once

#include <cuda_runtime.h>

#include "kernels/launch_args.h"

namespace ek::cuda {

// Queues the kernel that the record's type names on `stream`: `blocks` blocks of kBlockSize
// threads. A launch that cannot be configured leaves its error for cudaGetLastError.
void launchKernel(cudaStream_t stream, uint32_t blocks, const KernelArgs &args);

} // namespace ek::cuda
