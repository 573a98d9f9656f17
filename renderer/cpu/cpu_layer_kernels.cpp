// The layer passes of the CPU backend, over the same item functions as the CUDA kernels. The
// layer pass gathers its additions in batches and asks for their memory as it gathers, then adds
// them atomically into the shared sums; the resolve writes pixels with all-zero sums without
// reading them.
#include <algorithm>

#include "cpu/cpu_device.h"
#include "cpu/cpu_work_items.h"
#include "cpu/prefetch.h"
#include "kernels/layers.h"

namespace ek {

namespace {

// The layer pass's sink: the sums land all over a large buffer, so each addition's cell is asked
// for when it is handed in and added once a batch is full, by which time most cells have arrived.
// It writes two buffers, the sums and the additive look's depth columns, and flags the tiles of
// each.
class BatchedAdds {
public:
  BatchedAdds(const DirtyTiles &sums, const DirtyTiles &columns) : sums_(sums), columns_(columns) {}
  ~BatchedAdds() { flush(); }
  BatchedAdds(const BatchedAdds &) = delete;
  BatchedAdds &operator=(const BatchedAdds &) = delete;

  void operator()(float *address, float value) {
    prefetchForWrite(address);
    addresses_[filled_] = address;
    values_[filled_] = value;
    if (++filled_ == kBatch)
      flush();
  }

private:
  static constexpr uint32_t kBatch = 512;
  void flush() {
    for (uint32_t i = 0; i < filled_; ++i) {
      (columns_.contains(addresses_[i]) ? columns_ : sums_).markForAtomicAdd(addresses_[i]);
      atomicAddFloat(addresses_[i], values_[i]);
    }
    filled_ = 0;
  }
  const DirtyTiles &sums_;
  const DirtyTiles &columns_;
  float *addresses_[kBatch];
  float values_[kBatch];
  uint32_t filled_ = 0;
};

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
  const DirtyTiles columns = a.depthColumns ? memoryTiles(a.depthColumns) : DirtyTiles();
  // In the volumetric look, the particles in the space order of its passes: neighbouring samples
  // then read neighbouring parts of the maps and add to neighbouring sums.
  const uint32_t *order = spatialOrderFor(a.positions, a.frame, a.total);
  pool_.parallelFor(
      a.total, pool_.chunkFor(a.total, 1024), [&](uint64_t begin, uint64_t end, unsigned) {
        BatchedAdds sink(sums, columns);
        forEachWorkItem(a.frame.repopulation, a.frame.samples, begin, end, order,
                        [&](const WorkItem &work, bool) { layerSplatWork(a, work, sink); });
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
           (!a.totalDepth || !thickness.anyDirty(a.totalDepth + begin, count * sizeof(float))) &&
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

} // namespace ek
