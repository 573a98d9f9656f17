// The CUDA kernels of the volumetric look, the constant block they read, and the CUDA device's
// launches of them.
#include <cuda_runtime.h>

#include "cuda/cuda_device.h"
#include "cuda/cuda_grid.cuh"
#include "kernels/volume.h"

__constant__ VolumeConstants cVol;

namespace {

constexpr unsigned kFullWarp = 0xFFFFFFFFu;
constexpr int kWarpSize = 32;

// Float minimum and maximum through integer atomics on the bit pattern: non-negative floats
// order like signed integers, negative ones in reverse like unsigned integers.
__device__ void atomicMinFloat(float *address, float value) {
  if (value >= 0.0f)
    atomicMin(reinterpret_cast<int *>(address), __float_as_int(value));
  else
    atomicMax(reinterpret_cast<unsigned *>(address), __float_as_uint(value));
}

__device__ void atomicMaxFloat(float *address, float value) {
  if (value >= 0.0f)
    atomicMax(reinterpret_cast<int *>(address), __float_as_int(value));
  else
    atomicMin(reinterpret_cast<unsigned *>(address), __float_as_uint(value));
}

} // namespace

__global__ void kBounds(const EKV3 *__restrict__ positions, const EKV3 *__restrict__ velocities,
                        uint64_t count, float *bounds, double *moments) {
  ek::BoundsPartial b = ek::neutralBounds();
  for (uint64_t i = ek::cuda::firstItem(); i < count; i += ek::cuda::itemStride())
    ek::addToBounds(b, positions[i], velocities ? velocities + i : nullptr);
  for (int offset = kWarpSize / 2; offset > 0; offset /= 2) {
    ek::BoundsPartial other;
    for (int a = 0; a < 3; ++a) {
      other.minimum[a] = __shfl_down_sync(kFullWarp, b.minimum[a], offset);
      other.maximum[a] = __shfl_down_sync(kFullWarp, b.maximum[a], offset);
      other.sum[a] = __shfl_down_sync(kFullWarp, b.sum[a], offset);
      other.sumSquares[a] = __shfl_down_sync(kFullWarp, b.sumSquares[a], offset);
    }
    other.speedSquared = __shfl_down_sync(kFullWarp, b.speedSquared, offset);
    other.count = __shfl_down_sync(kFullWarp, b.count, offset);
    ek::mergeBounds(b, other);
  }
  if (threadIdx.x % kWarpSize != 0)
    return;
  for (int a = 0; a < 3; ++a) {
    atomicAdd(moments + a, b.sum[a]);
    atomicAdd(moments + 3 + a, b.sumSquares[a]);
    atomicMinFloat(bounds + a, b.minimum[a]);
    atomicMaxFloat(bounds + 3 + a, b.maximum[a]);
  }
  atomicMaxFloat(bounds + 6, b.speedSquared);
  atomicAdd(moments + 6, b.count);
}

__global__ void kLightSplat(EKFrame frame, const EKV3 *__restrict__ positions,
                            const EKV3 *__restrict__ velocities, uint64_t total,
                            float *shadowMaps) {
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride())
    ek::lightSplatItem(frame, cVol, positions, velocities, item, shadowMaps);
}

__global__ void kPrefix(float *columns, uint64_t columnCount, int32_t depth, float *totals) {
  const uint64_t stride = depth > 0 ? uint64_t(depth) : 0;
  for (uint64_t c = ek::cuda::firstItem(); c < columnCount; c += ek::cuda::itemStride())
    ek::prefixColumn(columns + c * stride, depth, totals ? totals + c : nullptr);
}

__global__ void kCamSplat(EKFrame frame, const EKV3 *__restrict__ positions,
                          const EKV3 *__restrict__ velocities, uint64_t total, float *cameraDepth) {
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride())
    ek::camSplatItem(frame, cVol, positions, velocities, item, cameraDepth);
}

__global__ void kShade(EKFrame frame, const EKV3 *__restrict__ positions,
                       const uchar4 *__restrict__ colors, const EKV3 *__restrict__ velocities,
                       uint64_t total, const float *__restrict__ shadowMaps, float *cameraDepth,
                       float *accumulator) {
  const auto *rgba = reinterpret_cast<const Rgba8 *>(colors);
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride()) {
    ek::SplatSample s;
    if (!ek::shadeItem(frame, cVol, positions, rgba, velocities, item, shadowMaps, cameraDepth, s))
      continue;
    float *cell = accumulator + uint64_t(s.pixel) * 4;
    atomicAdd(cell + 0, s.value.r);
    atomicAdd(cell + 1, s.value.g);
    atomicAdd(cell + 2, s.value.b);
  }
}

__global__ void kResolveVol(const float *__restrict__ accumulator,
                            const float *__restrict__ totalDepth, uchar4 *image, float4 *imageFloat,
                            int32_t pixelCount, float exposure) {
  const int32_t i = int32_t(blockIdx.x * blockDim.x + threadIdx.x);
  if (i >= pixelCount)
    return;
  ek::resolveVolPixel(reinterpret_cast<const Rgba32f *>(accumulator), totalDepth,
                      reinterpret_cast<Rgba8 *>(image), reinterpret_cast<Rgba32f *>(imageFloat), i,
                      exposure);
}

namespace ek {

DeviceStatus CudaDevice::uploadVolumeConstants(const VolumeConstants &constants) {
  return cudaMemcpyToSymbol(cVol, &constants, sizeof constants, 0, cudaMemcpyHostToDevice);
}

void CudaDevice::launchBounds(uint32_t blocks, const BoundsArgs &a) {
  kBounds<<<blocks, kBlockSize>>>(a.positions, a.velocities, a.count, a.bounds, a.moments);
}

void CudaDevice::launchLightSplat(uint32_t blocks, const LightSplatArgs &a) {
  kLightSplat<<<blocks, kBlockSize>>>(a.frame, a.positions, a.velocities, a.total, a.shadowMaps);
}

void CudaDevice::launchPrefix(uint32_t blocks, const PrefixArgs &a) {
  kPrefix<<<blocks, kBlockSize>>>(a.columns, a.columnCount, a.depth, a.totals);
}

void CudaDevice::launchCamSplat(uint32_t blocks, const CamSplatArgs &a) {
  kCamSplat<<<blocks, kBlockSize>>>(a.frame, a.positions, a.velocities, a.total, a.cameraDepth);
}

void CudaDevice::launchShade(uint32_t blocks, const ShadeArgs &a) {
  kShade<<<blocks, kBlockSize>>>(
      a.frame, a.positions, reinterpret_cast<const uchar4 *>(a.colors), a.velocities, a.total,
      a.shadowMaps, const_cast<float *>(a.cameraDepth), reinterpret_cast<float *>(a.accumulator));
}

void CudaDevice::launchResolveVol(uint32_t blocks, const ResolveVolArgs &a) {
  kResolveVol<<<blocks, kBlockSize>>>(reinterpret_cast<const float *>(a.accumulator), a.totalDepth,
                                      reinterpret_cast<uchar4 *>(a.image),
                                      reinterpret_cast<float4 *>(a.imageFloat), a.pixelCount,
                                      a.exposure);
}

} // namespace ek
