// The CUDA kernels of the additive look and the test cloud, thin grid-stride loops over the shared
// item functions, and the CUDA device's launches of them.
#include "cuda/cuda_device.h"
#include "cuda/cuda_grid.cuh"
#include "kernels/additive.h"
#include "kernels/galaxy.h"

__global__ void kSplat(EKFrame frame, const EKV3 *__restrict__ positions,
                       const uchar4 *__restrict__ colors, const EKV3 *__restrict__ velocities,
                       uint64_t total, float *__restrict__ accumulator) {
  const auto *rgba = reinterpret_cast<const Rgba8 *>(colors);
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride()) {
    ek::SplatSample s;
    if (!ek::splatSample(frame, positions, rgba, velocities, item, s))
      continue;
    float *cell = accumulator + uint64_t(s.pixel) * 4;
    atomicAdd(cell + 0, s.value.r);
    atomicAdd(cell + 1, s.value.g);
    atomicAdd(cell + 2, s.value.b);
    atomicAdd(cell + 3, s.value.a);
  }
}

__global__ void kResolve(const float *__restrict__ accumulator, uchar4 *image, float4 *imageFloat,
                         int32_t pixelCount, float exposure) {
  const int32_t i = int32_t(blockIdx.x * blockDim.x + threadIdx.x);
  if (i >= pixelCount)
    return;
  ek::resolvePixel(reinterpret_cast<const Rgba32f *>(accumulator), reinterpret_cast<Rgba8 *>(image),
                   reinterpret_cast<Rgba32f *>(imageFloat), i, exposure);
}

__global__ void kGenerateGalaxy(EKV3 *positions, uchar4 *colors, EKV3 *velocities, uint64_t count,
                                uint32_t seed) {
  const ek::GalaxyArgs args{positions, reinterpret_cast<Rgba8 *>(colors), velocities, count, seed};
  for (uint64_t i = ek::cuda::firstItem(); i < count; i += ek::cuda::itemStride())
    ek::writeGalaxyParticle(args, i);
}

namespace ek {

void CudaDevice::launchSplat(uint32_t blocks, const SplatArgs &a) {
  kSplat<<<blocks, kBlockSize>>>(a.frame, a.positions, reinterpret_cast<const uchar4 *>(a.colors),
                                 a.velocities, a.total, reinterpret_cast<float *>(a.accumulator));
}

void CudaDevice::launchResolve(uint32_t blocks, const ResolveArgs &a) {
  kResolve<<<blocks, kBlockSize>>>(
      reinterpret_cast<const float *>(a.accumulator), reinterpret_cast<uchar4 *>(a.image),
      reinterpret_cast<float4 *>(a.imageFloat), a.pixelCount, a.exposure);
}

void CudaDevice::launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &a) {
  kGenerateGalaxy<<<blocks, kBlockSize>>>(a.positions, reinterpret_cast<uchar4 *>(a.colors),
                                          a.velocities, a.count, a.seed);
}

} // namespace ek
