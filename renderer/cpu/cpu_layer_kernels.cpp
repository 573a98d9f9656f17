// The layer passes of the CPU backend, over the same item functions as the CUDA kernels. The
// volumetric layer pass gathers its additions in batches (see BatchedAdds); its samples are
// placed ahead like the shading pass's (cpu_volume_kernels.cpp). The resolves write pixels with
// all-zero sums without reading them.
#include <algorithm>

#include "cpu/batched_adds.h"
#include "cpu/cpu_device.h"
#include "kernels/additive_layers.h"

namespace ek {

namespace {

// Writes the layers of pixels [begin, end) whose sums are all zero, as resolveLayerPixel would:
// no coverage, light or motion, and no depth.
void writeEmptyLayers(const LayerTargets &t, uint64_t begin, uint64_t end) {
  auto fill = [&](float *layer, uint64_t channels, float value) {
    if (layer)
      std::fill(layer + begin * channels, layer + end * channels, value);
  };
  fill(t.coverage, 1, 0.0f);
  fill(t.raw, 3, 0.0f);
  fill(t.depth, 1, kDepthNothing);
  fill(t.forward, 2, 0.0f);
  fill(t.backward, 2, 0.0f);
  fill(t.emission, 3, 0.0f);
  fill(t.ambient, 3, 0.0f);
  for (float *light : t.lights)
    fill(light, 3, 0.0f);
}

} // namespace

void CpuDevice::run(uint32_t, const LayerSplatArgs &a) {
  const DirtyTiles sums = memoryTiles(a.sums);
  // The particles in the space order of the volumetric passes: neighbouring samples then read
  // neighbouring parts of the maps and add to neighbouring sums.
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  pool_.parallelFor(a.total, pool_.chunkFor(a.total, 1024),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      BatchedAdds sink(sums);
                      volumeLayerRange(a, order, begin, end, sink);
                    });
}

void CpuDevice::run(uint32_t blocks, const ResolveLayersArgs &a) {
  // Pixels whose sums lie in clean tiles are all zero: their layers are written without reading
  // the sums, whose pages may never have been mapped.
  const DirtyTiles beauty = memoryTiles(a.accumulator);
  const DirtyTiles thickness = memoryTiles(a.totalDepth);
  const DirtyTiles layerSums = memoryTiles(a.sums);
  const uint64_t stride = uint64_t(a.plan.stride);
  auto sumsAreZero = [&](uint64_t begin, uint64_t count) {
    return !beauty.anyDirty(a.accumulator + begin, count * sizeof(Rgba32f)) &&
           !thickness.anyDirty(a.totalDepth + begin, count * sizeof(float)) &&
           (!a.sums ||
            !layerSums.anyDirty(a.sums + begin * stride, count * stride * sizeof(float)));
  };
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(a.pixelCount, 0)));
  constexpr uint64_t kRun = DirtyTiles::kTileBytes / sizeof(Rgba32f);
  const uint64_t runs = (covered + kRun - 1) / kRun;
  pool_.parallelFor(runs, pool_.chunkFor(runs, 16), [&](uint64_t first, uint64_t last, unsigned) {
    for (uint64_t run = first; run < last; ++run) {
      const uint64_t begin = run * kRun, end = std::min(covered, begin + kRun);
      if (sumsAreZero(begin, end - begin)) {
        writeEmptyLayers(a.targets, begin, end);
        continue;
      }
      for (uint64_t i = begin; i < end; ++i)
        resolveLayerPixel(a, int32_t(i));
    }
  });
}

void CpuDevice::run(uint32_t blocks, const ResolveAdditiveLayersArgs &a) {
  // The layer sums are added only with a sample, so a pixel whose beauty sums lie in a clean tile
  // has all-zero sums: its layers are written without reading any of them.
  const DirtyTiles beauty = memoryTiles(a.accumulator);
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(a.pixelCount, 0)));
  constexpr uint64_t kRun = DirtyTiles::kTileBytes / sizeof(Rgba32f);
  const uint64_t runs = (covered + kRun - 1) / kRun;
  pool_.parallelFor(runs, pool_.chunkFor(runs, 16), [&](uint64_t first, uint64_t last, unsigned) {
    for (uint64_t run = first; run < last; ++run) {
      const uint64_t begin = run * kRun, end = std::min(covered, begin + kRun);
      if (!beauty.anyDirty(a.accumulator + begin, (end - begin) * sizeof(Rgba32f))) {
        writeEmptyLayers(a.targets, begin, end);
        continue;
      }
      for (uint64_t i = begin; i < end; ++i)
        resolveAdditiveLayerPixel(a, int32_t(i));
    }
  });
}

} // namespace ek
