// The launch of the CUDA kernels, defined beside them in cuda_kernels.cu.
#pragma once

#include <cuda_runtime.h>

#include "kernels/launch_args.h"

namespace ek::cuda {

// Device memory that a launch's kernels pass their work through (partial measures, exact sums),
// kept by the device that launches them and grown when a launch needs more. It is used on the
// device's stream only, so one launch's use ends before the next one's begins.
class LaunchScratch {
public:
  LaunchScratch() = default;
  ~LaunchScratch() { release(); }
  LaunchScratch(const LaunchScratch &) = delete;
  LaunchScratch &operator=(const LaunchScratch &) = delete;

  // At least `bytes` of it in `memory`; growing waits for the work queued on `stream`, which may
  // still be using the smaller block.
  cudaError_t reserve(cudaStream_t stream, uint64_t bytes, void **memory);
  void release();

private:
  void *memory_ = nullptr;
  uint64_t bytes_ = 0;
};

// Queues the kernels that the record's type names on `stream`: `blocks` blocks of kBlockSize
// threads, with what they pass between them in `scratch`. Returns an error when the scratch cannot
// be had (then nothing is queued); a launch that cannot be configured leaves its error for
// cudaGetLastError.
cudaError_t launchKernel(cudaStream_t stream, uint32_t blocks, const KernelArgs &args,
                         LaunchScratch &scratch);

} // namespace ek::cuda
