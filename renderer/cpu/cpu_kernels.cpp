// Kernel launches of the CPU backend. They run the same item functions as the CUDA kernels over
// the same work items; what differs is only how the work is spread and how the splat accumulates.
#include <algorithm>

#include "cpu/cpu_accumulate.h"
#include "cpu/cpu_device.h"
#include "cpu/cpu_vector_paths.h"
#include "cpu/cpu_work_items.h"
#include "kernels/galaxy.h"
#include "kernels/volume.h"

namespace ek {

namespace {

// Places the work items [begin, end) of the additive splat. When all samples of a copy coincide,
// a copy is placed once and handed on with the number of its samples in the range. Perspective
// samples that draw from their stream go eight at a time where a vectorised path exists.
template <typename Batch>
void splatRange(const SplatArgs &a, const VectorPaths &vector, uint64_t begin, uint64_t end,
                Batch &batch) {
  const EKFrame &f = a.frame;
  if (!samplesCoincide(f, a.velocities)) {
    if (vector.placeSamples && f.projection != EK_PROJECTION_SPHERICAL) {
      splatInLanes(a, begin, end, vector.placeSamples, batch);
      return;
    }
    forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr,
                    [&](const WorkItem &work, bool) {
                      SplatSample s;
                      if (splatWorkItem(f, a.positions, a.colors, a.velocities, work, s))
                        batch.add(s);
                    });
    return;
  }
  // The range's first item is decoded, later copies are counted on from it (without the
  // divisions of decodeWorkItem, which cost more than placing a copy without offset).
  const uint64_t samples = uint64_t(f.samples);
  const uint32_t copies = uint32_t(f.repopulation) + 1;
  WorkItem work = decodeWorkItem(begin, f.repopulation, f.samples);
  for (uint64_t item = begin; item < end;) {
    const uint64_t copyEnd = std::min(end, item + (samples - work.sample));
    SplatSample s;
    if (splatWorkItem(f, a.positions, a.colors, a.velocities, work, s))
      batch.add(s, uint32_t(copyEnd - item));
    item = copyEnd;
    work.sample = 0;
    if (++work.copy == copies) {
      work.copy = 0;
      ++work.particle;
    }
  }
}

} // namespace

void CpuDevice::launchSplat(uint32_t blocks, const SplatArgs &args) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t pixels = uint64_t(args.frame.width) * uint64_t(args.frame.height);
  accumulateSamples(pool_, privateImages_, args.accumulator, pixels, args.total,
                    [&](uint64_t begin, uint64_t end, auto &batch) {
                      splatRange(args, vector_, begin, end, batch);
                    });
}

namespace {

// One pixel of each resolve, from its launch arguments.
void resolveOne(const ResolveArgs &a, int32_t i) {
  resolvePixel(a.accumulator, a.image, a.imageFloat, i, a.exposure);
}

void resolveOne(const ResolveVolArgs &a, int32_t i) {
  resolveVolPixel(a.accumulator, a.totalDepth, a.image, a.imageFloat, i, a.exposure);
}

// Runs a resolve over the pixels the grid covers (threads past pixelCount do nothing), with the
// vectorised range function where the device has one.
template <typename Args>
void resolvePixels(WorkerPool &pool, uint32_t blocks, const Args &args,
                   void (*vector)(const Args &, uint64_t, uint64_t)) {
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(args.pixelCount, 0)));
  pool.parallelFor(covered, pool.chunkFor(covered, 4096),
                   [&](uint64_t begin, uint64_t end, unsigned) {
                     if (vector) {
                       vector(args, begin, end);
                       return;
                     }
                     for (uint64_t i = begin; i < end; ++i)
                       resolveOne(args, int32_t(i));
                   });
}

} // namespace

void CpuDevice::launchResolve(uint32_t blocks, const ResolveArgs &args) {
  if (acceptLaunch(blocks))
    resolvePixels(pool_, blocks, args, vector_.resolve);
}

void CpuDevice::launchResolveVol(uint32_t blocks, const ResolveVolArgs &args) {
  if (acceptLaunch(blocks))
    resolvePixels(pool_, blocks, args, vector_.resolveVol);
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
