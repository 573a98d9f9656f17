// Kernel launches of the CPU backend. They run the same item functions as the CUDA kernels over
// the same work items; what differs is only how the work is spread and how the splat accumulates.
#include <algorithm>

#include "device/cpu_accumulate.h"
#include "device/cpu_device.h"
#include "device/cpu_work_items.h"
#if EK_HAS_RESOLVE_AVX2
#include "device/cpu_resolve_avx2.h"
#endif
#include "kernels/additive.h"
#include "kernels/galaxy.h"

namespace ek {

namespace {

// Places the work items [begin, end) of the additive splat; when all samples of a copy coincide,
// a copy is placed once and repeated.
template <typename Batch>
void splatRange(const SplatArgs& a, uint64_t begin, uint64_t end, Batch& batch) {
  const EKFrame& f = a.frame;
  const bool coincide = samplesCoincide(f, a.velocities);
  SplatSample last{};
  bool lastHit = false;
  forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr,
                  [&](const WorkItem& work, bool first) {
                    if (!coincide || work.sample == 0 || first)
                      lastHit = splatWorkItem(f, a.positions, a.colors, a.velocities, work, last);
                    if (lastHit)
                      batch.add(last);
                  });
}

} // namespace

void CpuDevice::launchSplat(uint32_t blocks, const SplatArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t pixels = uint64_t(args.frame.width) * uint64_t(args.frame.height);
  accumulateSamples(pool_, privateImages_, args.accumulator, pixels, args.total,
                    [&](uint64_t begin, uint64_t end, auto& batch) {
                      splatRange(args, begin, end, batch);
                    });
}

void CpuDevice::launchResolve(uint32_t blocks, const ResolveArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  // Threads past pixelCount do nothing, so the pixels covered are min(grid, pixelCount).
  const uint64_t covered = std::min<uint64_t>(uint64_t(blocks) * kBlockSize,
                                              uint64_t(std::max(args.pixelCount, 0)));
#if EK_HAS_RESOLVE_AVX2
  static const bool vectorised = canResolveAvx2();
#else
  constexpr bool vectorised = false;
#endif
  pool_.parallelFor(covered, pool_.chunkFor(covered, 4096),
                    [&](uint64_t begin, uint64_t end, unsigned) {
#if EK_HAS_RESOLVE_AVX2
                      if (vectorised) {
                        resolveRangeAvx2(args, begin, end);
                        return;
                      }
#endif
                      for (uint64_t i = begin; i < end; ++i)
                        resolvePixel(args.accumulator, args.image, args.imageFloat, int32_t(i),
                                     args.exposure);
                    });
}

void CpuDevice::launchGenerateGalaxy(uint32_t blocks, const GalaxyArgs& args) {
  if (!acceptLaunch(blocks))
    return;
  pool_.parallelFor(args.count, pool_.chunkFor(args.count, 1024),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = begin; i < end; ++i)
                        writeGalaxyParticle(args, i);
                    });
}

} // namespace ek
