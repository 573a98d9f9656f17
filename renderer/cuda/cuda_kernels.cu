// The CUDA kernels, thin grid-stride loops over the shared item functions, and their launch: each
// argument record is launched by its overload of launchOn, on the stream of the device asking. The
// volumetric splatting kernels take the volume constants as a parameter of their own launch (a
// large kernel parameter, held grid-wide in constant memory like a __constant__ block), so
// concurrent renders on one GPU never read each other's constants.
#include <cuda_runtime.h>

#include <variant>

#include "cuda/cuda_grid.cuh"
#include "cuda/cuda_launch.h"
#include "kernels/additive.h"
#include "kernels/additive_layers.h"
#include "kernels/galaxy.h"
#include "kernels/layers.h"
#include "kernels/volume.h"

__global__ void kSplat(ek::Frame frame, const EKV3 *__restrict__ positions,
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

__global__ void kLightSplat(ek::Frame frame, const __grid_constant__ VolumeConstants vol,
                            const EKV3 *__restrict__ positions, const EKV3 *__restrict__ velocities,
                            uint64_t total, ek::MapCell *shadowMaps) {
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride())
    ek::lightSplatItem(frame, vol, positions, velocities, item, shadowMaps);
}

__global__ void kPrefix(ek::MapCell *columns, uint64_t columnCount, int32_t depth, float *totals) {
  const uint64_t stride = depth > 0 ? uint64_t(depth) : 0;
  for (uint64_t c = ek::cuda::firstItem(); c < columnCount; c += ek::cuda::itemStride())
    ek::prefixColumn(columns + c * stride, depth, totals ? totals + c : nullptr);
}

__global__ void kCamSplat(ek::Frame frame, const __grid_constant__ VolumeConstants vol,
                          const EKV3 *__restrict__ positions, const EKV3 *__restrict__ velocities,
                          uint64_t total, ek::MapCell *cameraDepth) {
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride())
    ek::camSplatItem(frame, vol, positions, velocities, item, cameraDepth);
}

__global__ void kShade(ek::Frame frame, const __grid_constant__ VolumeConstants vol,
                       const EKV3 *__restrict__ positions, const uchar4 *__restrict__ colors,
                       const EKV3 *__restrict__ velocities, uint64_t total,
                       const ek::MapCell *__restrict__ shadowMaps,
                       const ek::MapCell *__restrict__ cameraDepth, float *accumulator) {
  const auto *rgba = reinterpret_cast<const Rgba8 *>(colors);
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride()) {
    ek::SplatSample s;
    if (!ek::shadeItem(frame, vol, positions, rgba, velocities, item, shadowMaps, cameraDepth, s))
      continue;
    float *cell = accumulator + uint64_t(s.pixel) * 4;
    atomicAdd(cell + 0, s.value.r);
    atomicAdd(cell + 1, s.value.g);
    atomicAdd(cell + 2, s.value.b);
  }
}

__global__ void kShadeLayers(const __grid_constant__ ek::ShadeArgs args) {
  for (uint64_t item = ek::cuda::firstItem(); item < args.total; item += ek::cuda::itemStride())
    ek::shadeLayersItem(args, item);
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

__global__ void kResolveLayers(const ek::ResolveLayersArgs args) {
  const int32_t i = int32_t(blockIdx.x * blockDim.x + threadIdx.x);
  if (i < args.pixelCount)
    ek::resolveLayerPixel(args, i);
}

__global__ void kAdditiveLayerSplat(const ek::AdditiveLayerSplatArgs args) {
  for (uint64_t item = ek::cuda::firstItem(); item < args.beauty.total;
       item += ek::cuda::itemStride())
    ek::additiveLayerSplatItem(args, item);
}

__global__ void kResolveAdditiveLayers(const ek::ResolveAdditiveLayersArgs args) {
  const int32_t i = int32_t(blockIdx.x * blockDim.x + threadIdx.x);
  if (i < args.pixelCount)
    ek::resolveAdditiveLayerPixel(args, i);
}

namespace ek {

namespace {

void launchOn(cudaStream_t stream, uint32_t blocks, const SplatArgs &a) {
  kSplat<<<blocks, kBlockSize, 0, stream>>>(
      a.frame, a.positions, reinterpret_cast<const uchar4 *>(a.colors), a.velocities, a.total,
      reinterpret_cast<float *>(a.accumulator));
}

void launchOn(cudaStream_t stream, uint32_t blocks, const ResolveArgs &a) {
  kResolve<<<blocks, kBlockSize, 0, stream>>>(
      reinterpret_cast<const float *>(a.accumulator), reinterpret_cast<uchar4 *>(a.image),
      reinterpret_cast<float4 *>(a.imageFloat), a.pixelCount, a.exposure);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const GalaxyArgs &a) {
  kGenerateGalaxy<<<blocks, kBlockSize, 0, stream>>>(
      a.positions, reinterpret_cast<uchar4 *>(a.colors), a.velocities, a.count, a.seed);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const BoundsArgs &a) {
  kBounds<<<blocks, kBlockSize, 0, stream>>>(a.positions, a.velocities, a.count, a.bounds,
                                             a.moments);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const LightSplatArgs &a) {
  kLightSplat<<<blocks, kBlockSize, 0, stream>>>(a.frame, a.vol, a.positions, a.velocities, a.total,
                                                 a.shadowMaps);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const PrefixArgs &a) {
  kPrefix<<<blocks, kBlockSize, 0, stream>>>(a.columns, a.columnCount, a.depth, a.totals);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const CamSplatArgs &a) {
  kCamSplat<<<blocks, kBlockSize, 0, stream>>>(a.frame, a.vol, a.positions, a.velocities, a.total,
                                               a.cameraDepth);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const ShadeArgs &a) {
  if (a.layers.sums) {
    kShadeLayers<<<blocks, kBlockSize, 0, stream>>>(a);
    return;
  }
  kShade<<<blocks, kBlockSize, 0, stream>>>(
      a.frame, a.vol, a.positions, reinterpret_cast<const uchar4 *>(a.colors), a.velocities,
      a.total, a.shadowMaps, a.cameraDepth, reinterpret_cast<float *>(a.accumulator));
}

void launchOn(cudaStream_t stream, uint32_t blocks, const ResolveVolArgs &a) {
  kResolveVol<<<blocks, kBlockSize, 0, stream>>>(reinterpret_cast<const float *>(a.accumulator),
                                                 a.totalDepth, reinterpret_cast<uchar4 *>(a.image),
                                                 reinterpret_cast<float4 *>(a.imageFloat),
                                                 a.pixelCount, a.exposure);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const ResolveLayersArgs &a) {
  kResolveLayers<<<blocks, kBlockSize, 0, stream>>>(a);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const AdditiveLayerSplatArgs &a) {
  kAdditiveLayerSplat<<<blocks, kBlockSize, 0, stream>>>(a);
}

void launchOn(cudaStream_t stream, uint32_t blocks, const ResolveAdditiveLayersArgs &a) {
  kResolveAdditiveLayers<<<blocks, kBlockSize, 0, stream>>>(a);
}

} // namespace

void cuda::launchKernel(cudaStream_t stream, uint32_t blocks, const KernelArgs &args) {
  std::visit([&](const auto &kernelArgs) { launchOn(stream, blocks, kernelArgs); }, args);
}

} // namespace ek
