// The CUDA kernels, thin grid-stride loops over the shared item functions, and their launch: each
// argument record is launched by its overload of launchOn, on the stream of the device asking. The
// volumetric splatting kernels take the volume constants as a parameter of their own launch (a
// large kernel parameter, held grid-wide in constant memory like a __constant__ block), so
// concurrent renders on one GPU never read each other's constants. The volumetric sums that many
// threads add to (the cloud's moments, the shading's colours and layer sums) are gathered so that
// they come out the same to the bit on every run: the moments in fixed parts merged in order, the
// shading in exact integer sums (kernels/exact_sums.h) turned into floats afterwards.
#include <cuda_runtime.h>

#include <algorithm>
#include <variant>

#include "cuda/cuda_grid.cuh"
#include "cuda/cuda_launch.h"
#include "kernels/additive.h"
#include "kernels/additive_layers.h"
#include "kernels/bounds_buffers.h"
#include "kernels/exact_sums.h"
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
constexpr int kWarpsPerBlock = int(ek::kBlockSize) / kWarpSize;
// The particles whose measure one block reduces: the parts, and so the sums, are the same
// whatever the grid.
constexpr uint64_t kBoundsPartItems = uint64_t(1) << 16;
// Enough blocks for a pass over the pixels to fill any GPU; each loops over more.
constexpr uint64_t kMaxPixelBlocks = 4096;

__device__ ek::BoundsPartial shuffledDown(const ek::BoundsPartial &b, int offset) {
  ek::BoundsPartial other;
  for (int a = 0; a < 3; ++a) {
    other.minimum[a] = __shfl_down_sync(kFullWarp, b.minimum[a], offset);
    other.maximum[a] = __shfl_down_sync(kFullWarp, b.maximum[a], offset);
    other.sum[a] = __shfl_down_sync(kFullWarp, b.sum[a], offset);
    other.sumSquares[a] = __shfl_down_sync(kFullWarp, b.sumSquares[a], offset);
  }
  other.speedSquared = __shfl_down_sync(kFullWarp, b.speedSquared, offset);
  other.count = __shfl_down_sync(kFullWarp, b.count, offset);
  return other;
}

// The merge of every thread's measure in the block, for thread 0: the lanes of each warp merged
// pairwise, then the warps in order; the same order on every run, so the double sums come out the
// same to the bit. Every thread of a block of kBlockSize calls it.
__device__ ek::BoundsPartial mergedInBlock(ek::BoundsPartial b) {
  __shared__ ek::BoundsPartial warps[kWarpsPerBlock];
  for (int offset = kWarpSize / 2; offset > 0; offset /= 2)
    ek::mergeBounds(b, shuffledDown(b, offset));
  if (threadIdx.x % kWarpSize == 0)
    warps[threadIdx.x / kWarpSize] = b;
  __syncthreads();
  if (threadIdx.x == 0)
    for (int w = 1; w < kWarpsPerBlock; ++w)
      ek::mergeBounds(b, warps[w]);
  __syncthreads(); // the next call writes `warps` again
  return b;
}

} // namespace

// The measure of each part of kBoundsPartItems particles, one block a part.
__global__ void kBoundsParts(const EKV3 *__restrict__ positions,
                             const EKV3 *__restrict__ velocities, uint64_t count,
                             ek::BoundsPartial *parts) {
  const uint64_t partCount = (count + kBoundsPartItems - 1) / kBoundsPartItems;
  for (uint64_t part = blockIdx.x; part < partCount; part += gridDim.x) {
    ek::BoundsPartial b = ek::neutralBounds();
    const uint64_t partEnd = (part + 1) * kBoundsPartItems;
    const uint64_t end = partEnd < count ? partEnd : count;
    for (uint64_t i = part * kBoundsPartItems + threadIdx.x; i < end; i += blockDim.x)
      ek::addToBounds(b, positions[i], velocities ? velocities + i : nullptr);
    b = mergedInBlock(b);
    if (threadIdx.x == 0)
      parts[part] = b;
  }
}

// The parts' measures merged in a fixed order by one block, then into the buffers.
__global__ void kMergeBoundsParts(const ek::BoundsPartial *__restrict__ parts, uint64_t partCount,
                                  float *bounds, double *moments) {
  ek::BoundsPartial b = ek::neutralBounds();
  for (uint64_t part = threadIdx.x; part < partCount; part += blockDim.x)
    ek::mergeBounds(b, parts[part]);
  b = mergedInBlock(b);
  if (threadIdx.x == 0)
    ek::mergeIntoBoundsBuffers(b, bounds, moments);
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
                       const ek::MapCell *__restrict__ cameraDepth, ek::ExactSum *beauty) {
  const auto *rgba = reinterpret_cast<const Rgba8 *>(colors);
  for (uint64_t item = ek::cuda::firstItem(); item < total; item += ek::cuda::itemStride()) {
    ek::SplatSample s;
    if (!ek::shadeItem(frame, vol, positions, rgba, velocities, item, shadowMaps, cameraDepth, s))
      continue;
    ek::addShadedColour(beauty, s);
  }
}

__global__ void kShadeLayers(const __grid_constant__ ek::ShadeArgs args, ek::ExactSum *beauty,
                             ek::ExactSum *sums) {
  for (uint64_t item = ek::cuda::firstItem(); item < args.total; item += ek::cuda::itemStride())
    ek::shadeLayersItem(args, item, beauty, sums);
}

// Adds the shading's exact sums, each turned into its nearest float, to the accumulator's colour
// and to the layer sums (`stride` a pixel, none when `sums` is null).
__global__ void kAddExactSums(const ek::ExactSum *__restrict__ beauty,
                              const ek::ExactSum *__restrict__ layerSums, uint64_t pixels,
                              float *accumulator, float *sums, uint64_t stride) {
  for (uint64_t i = ek::cuda::firstItem(); i < pixels; i += ek::cuda::itemStride()) {
    for (uint64_t c = 0; c < ek::kShadedChannels; ++c)
      accumulator[i * 4 + c] += ek::exactSumValue(beauty[i * ek::kShadedChannels + c]);
    if (sums)
      for (uint64_t k = i * stride; k < (i + 1) * stride; ++k)
        sums[k] += ek::exactSumValue(layerSums[k]);
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

// Every kernel without scratch memory.
template <typename Args>
cudaError_t launchWith(cudaStream_t stream, uint32_t blocks, const Args &a, cuda::LaunchScratch &) {
  launchOn(stream, blocks, a);
  return cudaSuccess;
}

// The measure of fixed parts of the particles, then their merge in order.
cudaError_t launchWith(cudaStream_t stream, uint32_t blocks, const BoundsArgs &a,
                       cuda::LaunchScratch &scratch) {
  if (a.count == 0)
    return cudaSuccess;
  const uint64_t partCount = (a.count + kBoundsPartItems - 1) / kBoundsPartItems;
  void *parts = nullptr;
  const cudaError_t status = scratch.reserve(stream, partCount * sizeof(BoundsPartial), &parts);
  if (status != cudaSuccess)
    return status;
  kBoundsParts<<<blocks, kBlockSize, 0, stream>>>(a.positions, a.velocities, a.count,
                                                  static_cast<BoundsPartial *>(parts));
  kMergeBoundsParts<<<1, kBlockSize, 0, stream>>>(static_cast<const BoundsPartial *>(parts),
                                                  partCount, a.bounds, a.moments);
  return cudaSuccess;
}

// The shading into cleared exact sums, then their floats added to the accumulator and the layer
// sums.
cudaError_t launchWith(cudaStream_t stream, uint32_t blocks, const ShadeArgs &a,
                       cuda::LaunchScratch &scratch) {
  const uint64_t pixels = uint64_t(a.frame.width) * uint64_t(a.frame.height);
  const uint64_t stride = a.layers.sums ? uint64_t(a.layers.plan.stride) : 0;
  const uint64_t bytes = pixels * (kShadedChannels + stride) * sizeof(ExactSum);
  void *memory = nullptr;
  cudaError_t status = scratch.reserve(stream, bytes, &memory);
  if (status == cudaSuccess)
    status = cudaMemsetAsync(memory, 0, bytes, stream);
  if (status != cudaSuccess)
    return status;
  ExactSum *beauty = static_cast<ExactSum *>(memory);
  ExactSum *layerSums = beauty + pixels * kShadedChannels;
  if (a.layers.sums)
    kShadeLayers<<<blocks, kBlockSize, 0, stream>>>(a, beauty, layerSums);
  else
    kShade<<<blocks, kBlockSize, 0, stream>>>(
        a.frame, a.vol, a.positions, reinterpret_cast<const uchar4 *>(a.colors), a.velocities,
        a.total, a.shadowMaps, a.cameraDepth, beauty);
  const uint64_t pixelBlocks = std::min((pixels + kBlockSize - 1) / kBlockSize, kMaxPixelBlocks);
  kAddExactSums<<<uint32_t(pixelBlocks), kBlockSize, 0, stream>>>(
      beauty, layerSums, pixels, reinterpret_cast<float *>(a.accumulator), a.layers.sums, stride);
  return cudaSuccess;
}

} // namespace

cudaError_t cuda::LaunchScratch::reserve(cudaStream_t stream, uint64_t bytes, void **memory) {
  if (bytes > bytes_) {
    cudaError_t status = cudaStreamSynchronize(stream);
    if (status != cudaSuccess)
      return status;
    release();
    status = cudaMalloc(&memory_, bytes);
    if (status != cudaSuccess) {
      memory_ = nullptr;
      return status;
    }
    bytes_ = bytes;
  }
  *memory = memory_;
  return cudaSuccess;
}

void cuda::LaunchScratch::release() {
  cudaFree(memory_);
  memory_ = nullptr;
  bytes_ = 0;
}

cudaError_t cuda::launchKernel(cudaStream_t stream, uint32_t blocks, const KernelArgs &args,
                               LaunchScratch &scratch) {
  return std::visit(
      [&](const auto &kernelArgs) { return launchWith(stream, blocks, kernelArgs, scratch); },
      args);
}

} // namespace ek
