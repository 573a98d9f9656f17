#include "cuda_baselines.h"

#include <algorithm>
#include <cuda_runtime.h>

namespace {

__global__ void kBareAtomic(const ek::SplatSample *hits, uint64_t count, float *image) {
  const uint64_t stride = uint64_t(gridDim.x) * blockDim.x;
  for (uint64_t i = uint64_t(blockIdx.x) * blockDim.x + threadIdx.x; i < count; i += stride) {
    const ek::SplatSample s = hits[i];
    float *cell = image + uint64_t(s.pixel) * 4;
    atomicAdd(cell + 0, s.value.r);
    atomicAdd(cell + 1, s.value.g);
    atomicAdd(cell + 2, s.value.b);
    atomicAdd(cell + 3, s.value.a);
  }
}

__global__ void kReadWrite(float *data, uint64_t count) {
  const uint64_t stride = uint64_t(gridDim.x) * blockDim.x;
  for (uint64_t i = uint64_t(blockIdx.x) * blockDim.x + threadIdx.x; i < count; i += stride)
    data[i] = data[i] * 0.5f + 1.0f;
}

} // namespace

namespace ek::bench {

double memoryPassMs(uint64_t floats) {
  float *data = nullptr;
  if (cudaMalloc(&data, floats * sizeof(float)) != cudaSuccess)
    return -1;
  cudaEvent_t start, stop;
  cudaEventCreate(&start);
  cudaEventCreate(&stop);
  float ms = 0;
  for (int i = 0; i < 2; ++i) { // the first run warms up
    cudaEventRecord(start);
    cudaMemsetAsync(data, 0, floats * sizeof(float));
    kReadWrite<<<4096, 256>>>(data, floats);
    cudaEventRecord(stop);
    cudaEventSynchronize(stop);
    cudaEventElapsedTime(&ms, start, stop);
  }
  cudaEventDestroy(start);
  cudaEventDestroy(stop);
  cudaFree(data);
  return ms;
}

double bareAtomicMs(const std::vector<SplatSample> &hits, uint64_t pixels, int repeat) {
  SplatSample *deviceHits = nullptr;
  float *image = nullptr;
  cudaMalloc(&deviceHits, hits.size() * sizeof(SplatSample));
  cudaMalloc(&image, pixels * 16);
  cudaMemcpy(deviceHits, hits.data(), hits.size() * sizeof(SplatSample), cudaMemcpyHostToDevice);
  int multiprocessors = 0;
  cudaDeviceGetAttribute(&multiprocessors, cudaDevAttrMultiProcessorCount, 0);
  const uint64_t blocks =
      std::min<uint64_t>((hits.size() + 255) / 256, 32ull * std::max(multiprocessors, 1));
  cudaEvent_t start, stop;
  cudaEventCreate(&start);
  cudaEventCreate(&stop);
  std::vector<float> times;
  for (int i = 0; i <= repeat; ++i) {
    cudaMemsetAsync(image, 0, pixels * 16);
    cudaEventRecord(start);
    kBareAtomic<<<unsigned(std::max<uint64_t>(blocks, 1)), 256>>>(deviceHits, hits.size(), image);
    cudaEventRecord(stop);
    cudaEventSynchronize(stop);
    float ms = 0;
    cudaEventElapsedTime(&ms, start, stop);
    if (i > 0)
      times.push_back(ms);
  }
  cudaEventDestroy(start);
  cudaEventDestroy(stop);
  cudaFree(deviceHits);
  cudaFree(image);
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

} // namespace ek::bench
