// The layer passes of the CPU backend, over the same item functions as the CUDA kernels. Only a
// layered render runs them, so they favour plainness: the layer pass adds atomically into the
// shared sums, the resolve takes one pixel after the other.
#include <algorithm>

#include "cpu/cpu_device.h"
#include "cpu/cpu_work_items.h"
#include "kernels/layers.h"

namespace ek {

void CpuDevice::run(uint32_t, const LayerSplatArgs &a) {
  const DirtyTiles tiles = memoryTiles(a.sums);
  auto noted = [&tiles](float *written) { tiles.markForAtomicAdd(written); };
  pool_.parallelFor(
      a.total, pool_.chunkFor(a.total, 1024), [&](uint64_t begin, uint64_t end, unsigned) {
        forEachWorkItem(a.frame.repopulation, a.frame.samples, begin, end, nullptr,
                        [&](const WorkItem &work, bool) { layerSplatWork(a, work, noted); });
      });
}

void CpuDevice::run(uint32_t blocks, const ResolveLayersArgs &a) {
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(a.pixelCount, 0)));
  pool_.parallelFor(covered, pool_.chunkFor(covered, 4096),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = begin; i < end; ++i)
                        resolveLayerPixel(a, int32_t(i));
                    });
}

} // namespace ek
