// Kernel launches of the CPU backend. They run the same item functions as the CUDA kernels over
// the same work items; what differs is only how the work is spread and how the splat accumulates.
#include <algorithm>
#include <cstddef>
#include <type_traits>

#include "device/cpu_accumulate.h"
#include "device/cpu_device.h"
#include "device/cpu_work_items.h"
#if EK_HAS_AVX2_KERNELS
#include "device/cpu_avx2.h"
#endif
#include "kernels/galaxy.h"
#include "kernels/volume.h"

namespace ek {

namespace {

#if EK_HAS_AVX2_KERNELS
// Places samples that draw from their stream eight at a time. The copy's position (with its
// repopulation offset) is made once per copy and shared by its samples.
template <typename Batch>
void splatLanes(const SplatArgs &a, uint64_t begin, uint64_t end, Batch &batch) {
  const EKFrame &f = a.frame;
  const bool blur = usesMotionBlur(f, a.velocities);
  SampleLanes lanes;
  uint64_t particles[8];
  uint32_t filled = 0;
  auto flush = [&] {
    uint32_t pixel[8];
    uint32_t hits = placeSamplesAvx2(f, blur, lanes, filled, pixel);
    for (uint32_t lane = 0; lane < filled; ++lane, hits >>= 1)
      if (hits & 1u)
        batch.add({pixel[lane], splatValue(f, a.colors[particles[lane]])});
    filled = 0;
  };
  uint64_t copyParticle = UINT64_MAX;
  uint32_t copyIndex = 0;
  EKV3 copyPosition{};
  forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr, [&](const WorkItem &w, bool) {
    if (w.particle != copyParticle || w.copy != copyIndex) {
      copyParticle = w.particle;
      copyIndex = w.copy;
      copyPosition = a.positions[w.particle];
      if (w.copy > 0) {
        const EKV3 offset = repopulationOffset(w.particle, w.copy, f.radius);
        copyPosition = {copyPosition.x + offset.x, copyPosition.y + offset.y,
                        copyPosition.z + offset.z};
      }
    }
    particles[filled] = w.particle;
    lanes.particleLow[filled] = uint32_t(w.particle);
    lanes.particleHigh[filled] = uint32_t(w.particle >> 32);
    lanes.copy[filled] = w.copy;
    lanes.sample[filled] = w.sample;
    lanes.x[filled] = copyPosition.x;
    lanes.y[filled] = copyPosition.y;
    lanes.z[filled] = copyPosition.z;
    if (blur) {
      const EKV3 &v = a.velocities[w.particle];
      lanes.vx[filled] = v.x;
      lanes.vy[filled] = v.y;
      lanes.vz[filled] = v.z;
    }
    if (++filled == 8)
      flush();
  });
  if (filled > 0)
    flush();
}
#endif

// Places the work items [begin, end) of the additive splat. When all samples of a copy coincide,
// a copy is placed once and handed on with the number of its samples in the range.
template <typename Batch>
void splatRange(const SplatArgs &a, uint64_t begin, uint64_t end, Batch &batch) {
  const EKFrame &f = a.frame;
  if (!samplesCoincide(f, a.velocities)) {
#if EK_HAS_AVX2_KERNELS
    static const bool vectorised = canUseAvx2();
    if (vectorised && f.projection != 1) {
      splatLanes(a, begin, end, batch);
      return;
    }
#endif
    forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr,
                    [&](const WorkItem &work, bool) {
                      SplatSample s;
                      if (splatWorkItem(f, a.positions, a.colors, a.velocities, work, s))
                        batch.add(s);
                    });
    return;
  }
  const uint64_t samples = uint64_t(f.samples);
  for (uint64_t item = begin; item < end;) {
    const WorkItem work = decodeWorkItem(item, f.repopulation, f.samples);
    const uint64_t copyEnd = std::min(end, item + (samples - work.sample));
    SplatSample s;
    if (splatWorkItem(f, a.positions, a.colors, a.velocities, work, s))
      batch.add(s, uint32_t(copyEnd - item));
    item = copyEnd;
  }
}

} // namespace

void CpuDevice::launchSplat(uint32_t blocks, const SplatArgs &args) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t pixels = uint64_t(args.frame.width) * uint64_t(args.frame.height);
  accumulateSamples(
      pool_, privateImages_, args.accumulator, pixels, args.total,
      [&](uint64_t begin, uint64_t end, auto &batch) { splatRange(args, begin, end, batch); });
}

namespace {

// Runs a resolve over the pixels the grid covers (threads past pixelCount do nothing), with the
// vectorised range function where this build and processor have it.
template <typename Args, typename Scalar, typename Vector>
void resolvePixels(WorkerPool &pool, uint32_t blocks, const Args &args, Scalar scalar,
                   [[maybe_unused]] Vector vector) {
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(args.pixelCount, 0)));
#if EK_HAS_AVX2_KERNELS
  static const bool vectorised = canUseAvx2();
#else
  constexpr bool vectorised = false;
#endif
  pool.parallelFor(covered, pool.chunkFor(covered, 4096),
                   [&](uint64_t begin, uint64_t end, unsigned) {
                     if constexpr (!std::is_same_v<Vector, std::nullptr_t>) {
                       if (vectorised) {
                         vector(args, begin, end);
                         return;
                       }
                     }
                     for (uint64_t i = begin; i < end; ++i)
                       scalar(args, int32_t(i));
                   });
}

#if EK_HAS_AVX2_KERNELS
constexpr auto kResolveVector = resolveRangeAvx2;
constexpr auto kResolveVolVector = resolveVolRangeAvx2;
#else
constexpr std::nullptr_t kResolveVector = nullptr;
constexpr std::nullptr_t kResolveVolVector = nullptr;
#endif

} // namespace

void CpuDevice::launchResolve(uint32_t blocks, const ResolveArgs &args) {
  if (!acceptLaunch(blocks))
    return;
  resolvePixels(
      pool_, blocks, args,
      [](const ResolveArgs &a, int32_t i) {
        resolvePixel(a.accumulator, a.image, a.imageFloat, i, a.exposure);
      },
      kResolveVector);
}

void CpuDevice::launchResolveVol(uint32_t blocks, const ResolveVolArgs &args) {
  if (!acceptLaunch(blocks))
    return;
  resolvePixels(
      pool_, blocks, args,
      [](const ResolveVolArgs &a, int32_t i) {
        resolveVolPixel(a.accumulator, a.totalDepth, a.image, a.imageFloat, i, a.exposure);
      },
      kResolveVolVector);
}

void CpuDevice::launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs &args) {
  if (!acceptLaunch(blocks))
    return;
  pool_.parallelFor(args.count, pool_.chunkFor(args.count, 1024),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = begin; i < end; ++i)
                        writeGalaxyParticle(args, i);
                    });
}

} // namespace ek
