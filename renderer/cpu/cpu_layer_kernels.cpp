// The layer resolves of the CPU backend, over the same item functions as the CUDA kernels. The
// layer sums themselves are gathered by the passes that make the beauty: the volumetric look's
// shading (cpu_volume_kernels.cpp) and the additive look's splat (cpu_kernels.cpp). The resolves
// write pixels with all-zero sums without reading them.
#include <algorithm>

#include "cpu/cpu_device.h"
#include "kernels/additive_layers.h"

namespace ek {

namespace {

// Writes the layers of pixels [begin, end) whose sums are all zero, as the resolves would: no
// coverage, light or motion, and no depth.
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

// Resolves the first `blocks` x kBlockSize pixels (at most pixelCount) in runs of a tile of the
// beauty's sums: a run for which sumsAreZero(begin, count) holds is written empty, the others
// pixel by pixel with resolvePixel(i).
template <typename SumsAreZero, typename ResolvePixel>
void resolveInRuns(WorkerPool &pool, uint32_t blocks, int32_t pixelCount,
                   const LayerTargets &targets, SumsAreZero &&sumsAreZero,
                   ResolvePixel &&resolvePixel) {
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(pixelCount, 0)));
  constexpr uint64_t kRun = DirtyTiles::kTileBytes / sizeof(Rgba32f);
  const uint64_t runs = (covered + kRun - 1) / kRun;
  pool.parallelFor(runs, pool.chunkFor(runs, 16), [&](uint64_t first, uint64_t last, unsigned) {
    for (uint64_t run = first; run < last; ++run) {
      const uint64_t begin = run * kRun, end = std::min(covered, begin + kRun);
      if (sumsAreZero(begin, end - begin)) {
        writeEmptyLayers(targets, begin, end);
        continue;
      }
      for (uint64_t i = begin; i < end; ++i)
        resolvePixel(int32_t(i));
    }
  });
}

} // namespace

void CpuDevice::run(uint32_t blocks, const ResolveLayersArgs &a) {
  // Pixels whose sums lie in clean tiles are all zero: their layers are written without reading
  // the sums, whose pages may never have been mapped.
  const DirtyTiles beauty = memoryTiles(a.accumulator);
  const DirtyTiles thickness = memoryTiles(a.totalDepth);
  const DirtyTiles layerSums = memoryTiles(a.sums);
  const uint64_t stride = uint64_t(a.plan.stride);
  resolveInRuns(
      pool_, blocks, a.pixelCount, a.targets,
      [&](uint64_t begin, uint64_t count) {
        return !beauty.anyDirty(a.accumulator + begin, count * sizeof(Rgba32f)) &&
               !thickness.anyDirty(a.totalDepth + begin, count * sizeof(float)) &&
               (!a.sums ||
                !layerSums.anyDirty(a.sums + begin * stride, count * stride * sizeof(float)));
      },
      [&](int32_t i) { resolveLayerPixel(a, i); });
}

void CpuDevice::run(uint32_t blocks, const ResolveAdditiveLayersArgs &a) {
  // The layer sums are added only with a sample, so a pixel whose beauty sums lie in a clean tile
  // has all-zero sums: its layers are written without reading any of them.
  const DirtyTiles beauty = memoryTiles(a.accumulator);
  resolveInRuns(
      pool_, blocks, a.pixelCount, a.targets,
      [&](uint64_t begin, uint64_t count) {
        return !beauty.anyDirty(a.accumulator + begin, count * sizeof(Rgba32f));
      },
      [&](int32_t i) { resolveAdditiveLayerPixel(a, i); });
}

} // namespace ek
