// The volumetric passes of the CPU backend, over the same item functions as the CUDA kernels.
#include <vector>

#include "cpu/cpu_accumulate.h"
#include "cpu/cpu_device.h"
#include "cpu/cpu_work_items.h"
#include "cpu/spatial_order.h"
#include "kernels/volume.h"

namespace ek {

namespace {

constexpr uint64_t kMinChunk = 1024;

// Merges a reduction into the bounds and moments buffers as the device's atomics would.
void mergeIntoBuffers(const BoundsPartial &b, float *bounds, double *moments) {
  BoundsPartial current = neutralBounds();
  for (int a = 0; a < 3; ++a) {
    current.minimum[a] = bounds[a];
    current.maximum[a] = bounds[3 + a];
    current.sum[a] = moments[a];
    current.sumSquares[a] = moments[3 + a];
  }
  current.speedSquared = bounds[6];
  current.count = moments[6];
  mergeBounds(current, b);
  for (int a = 0; a < 3; ++a) {
    bounds[a] = current.minimum[a];
    bounds[3 + a] = current.maximum[a];
    moments[a] = current.sum[a];
    moments[3 + a] = current.sumSquares[a];
  }
  bounds[6] = current.speedSquared;
  moments[6] = current.count;
}

// Runs `visit` on every work item of a volumetric splat launch, in the given particle order.
template <typename Args, typename Visit>
void forEachVolumeWork(WorkerPool &pool, const Args &a, const uint32_t *order, Visit &&visit) {
  pool.parallelFor(
      a.total, pool.chunkFor(a.total, kMinChunk), [&](uint64_t begin, uint64_t end, unsigned) {
        forEachWorkItem(a.frame.repopulation, a.frame.samples, begin, end, order, visit);
      });
}

} // namespace

DeviceStatus CpuDevice::uploadVolumeConstants(const VolumeConstants &constants) {
  volume_ = constants;
  return kDeviceOk;
}

void CpuDevice::launchBounds(uint32_t blocks, const BoundsArgs &a) {
  if (!acceptLaunch(blocks))
    return;
  // One contiguous part per worker, merged in order: the sums do not depend on the threads.
  const unsigned workers = pool_.size();
  std::vector<BoundsPartial> partials(workers, neutralBounds());
  const uint64_t part = a.count / workers + (a.count % workers != 0);
  pool_.parallelFor(a.count, part, [&](uint64_t begin, uint64_t end, unsigned) {
    BoundsPartial &b = partials[begin / part];
    for (uint64_t i = begin; i < end; ++i)
      addToBounds(b, a.positions[i], a.velocities ? a.velocities + i : nullptr);
  });
  BoundsPartial total = neutralBounds();
  for (const BoundsPartial &b : partials)
    mergeBounds(total, b);
  if (a.count > 0)
    mergeIntoBuffers(total, a.bounds, a.moments);

  // The passes that follow visit the particles in space order.
  spatialOrderPositions_ = nullptr;
  if (a.count > 0 && a.count <= UINT32_MAX) {
    buildSpatialOrder(pool_, a.positions, uint32_t(a.count), total.minimum, total.maximum,
                      spatialOrder_);
    spatialOrderPositions_ = a.positions;
  }
}

const uint32_t *CpuDevice::spatialOrderFor(const EKV3 *positions, const EKFrame &frame,
                                           uint64_t total) const {
  const uint64_t perParticle = itemsPerParticle(frame.repopulation, frame.samples);
  if (positions != spatialOrderPositions_ || total / perParticle != spatialOrder_.size() ||
      total % perParticle != 0)
    return nullptr;
  return spatialOrder_.data();
}

void CpuDevice::launchLightSplat(uint32_t blocks, const LightSplatArgs &a) {
  if (!acceptLaunch(blocks))
    return;
  forEachVolumeWork(
      pool_, a, spatialOrderFor(a.positions, a.frame, a.total), [&](const WorkItem &work, bool) {
        lightSplatWork(a.frame, volume_, a.positions, a.velocities, work, a.shadowMaps);
      });
}

void CpuDevice::launchPrefix(uint32_t blocks, const PrefixArgs &a) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t depth = a.depth > 0 ? uint64_t(a.depth) : 0;
  pool_.parallelFor(a.columnCount, pool_.chunkFor(a.columnCount, kMinChunk),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t c = begin; c < end; ++c)
                        prefixColumn(a.columns + c * depth, a.depth,
                                     a.totals ? a.totals + c : nullptr);
                    });
}

void CpuDevice::launchCamSplat(uint32_t blocks, const CamSplatArgs &a) {
  if (!acceptLaunch(blocks))
    return;
  forEachVolumeWork(
      pool_, a, spatialOrderFor(a.positions, a.frame, a.total), [&](const WorkItem &work, bool) {
        camSplatWork(a.frame, volume_, a.positions, a.velocities, work, a.cameraDepth);
      });
}

void CpuDevice::launchShade(uint32_t blocks, const ShadeArgs &a) {
  if (!acceptLaunch(blocks))
    return;
  const uint64_t pixels = uint64_t(a.frame.width) * uint64_t(a.frame.height);
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  accumulateSamples(pool_, privateImages_, a.accumulator, pixels, a.total,
                    [&](uint64_t begin, uint64_t end, auto &batch) {
                      SplatSample s;
                      forEachWorkItem(a.frame.repopulation, a.frame.samples, begin, end, order,
                                      [&](const WorkItem &work, bool) {
                                        if (shadeWork(a.frame, volume_, a.positions, a.colors,
                                                      a.velocities, work, a.shadowMaps,
                                                      a.cameraDepth, s))
                                          batch.add(s);
                                      });
                    });
}

} // namespace ek
