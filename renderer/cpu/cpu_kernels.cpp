// Kernel launches of the CPU backend. They run the same item functions as the CUDA kernels over
// the same work items; what differs is only how the work is spread and how the splat accumulates.
#include <algorithm>

#include "cpu/cpu_accumulate.h"
#include "cpu/cpu_device.h"
#include "cpu/cpu_vector_paths.h"
#include "cpu/cpu_work_items.h"
#include "kernels/additive_layers.h"
#include "kernels/galaxy.h"
#include "kernels/volume.h"

namespace ek {

namespace {

// Places the work items [begin, end) of the additive splat. When all samples of a copy coincide,
// a copy is placed once and handed on with the number of its samples in the range. Perspective
// samples that draw from their stream go a block of lanes at a time where a vectorised path exists.
template <typename Batch>
void splatRange(const SplatArgs &a, const VectorPaths &vector, uint64_t begin, uint64_t end,
                Batch &batch) {
  const Frame &f = a.frame;
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
  forEachCopyRun(f.repopulation, f.samples, begin, end, [&](const WorkItem &work, uint32_t count) {
    SplatSample s;
    if (splatWorkItem(f, a.positions, a.colors, a.velocities, work, s))
      batch.add(s, count);
  });
}

} // namespace

void CpuDevice::run(uint32_t, const SplatArgs &args) {
  const uint64_t pixels = uint64_t(args.frame.width) * uint64_t(args.frame.height);
  accumulateSamples(pool_, privateImages_, args.accumulator, memoryTiles(args.accumulator), pixels,
                    args.total, kPartPerWorker, [&](uint64_t begin, uint64_t end, auto &batch) {
                      splatRange(args, vector_, begin, end, batch);
                    });
}

namespace {

// Places the work items [begin, end) of the layered additive splat, a copy at a time when all
// its samples coincide (so do their layer terms), with kExtra layer terms each.
template <uint32_t kExtra, typename Batch>
void layeredSplatRange(const AdditiveLayerSplatArgs &a, uint64_t begin, uint64_t end,
                       Batch &batch) {
  const Frame &f = a.beauty.frame;
  auto add = [&](const WorkItem &work, uint32_t count) {
    SplatSample s;
    ExtraTerms<kExtra> terms;
    if (additiveLayerSample(a, work, s, terms.v))
      batch.add(s, terms, count);
  };
  if (samplesCoincide(f, a.beauty.velocities))
    forEachCopyRun(f.repopulation, f.samples, begin, end, add);
  else
    forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr,
                    [&](const WorkItem &work, bool) { add(work, 1); });
}

template <uint32_t kExtra>
void accumulateLayered(WorkerPool &pool, std::vector<PrivateImage> &images, const CpuDevice &device,
                       const AdditiveLayerSplatArgs &a) {
  const SplatArgs &b = a.beauty;
  const uint64_t pixels = uint64_t(b.frame.width) * uint64_t(b.frame.height);
  accumulateSamples<kExtra>(pool, images, b.accumulator, device.memoryTiles(b.accumulator),
                            ExtraSums<kExtra>{a.sums, device.memoryTiles(a.sums)}, pixels, b.total,
                            kPartPerWorker, [&](uint64_t begin, uint64_t end, auto &batch) {
                              layeredSplatRange<kExtra>(a, begin, end, batch);
                            });
}

} // namespace

// The beauty's splat with the layer sums beside it, summed and merged like the beauty's own, so
// they too come out the same on every run with the same number of workers.
void CpuDevice::run(uint32_t, const AdditiveLayerSplatArgs &args) {
  // Motion alone or depth alone takes the smaller record.
  static_assert(kMotionStepFloats == kDepthMomentFloats);
  if (args.plan.stride == kMotionStepFloats)
    accumulateLayered<kMotionStepFloats>(pool_, privateImages_, *this, args);
  else
    accumulateLayered<kAdditiveExtraFloats>(pool_, privateImages_, *this, args);
}

namespace {

// One pixel of each resolve, from its launch arguments.
void resolveOne(const ResolveArgs &a, int32_t i) {
  resolvePixel(a.accumulator, a.image, a.imageFloat, i, a.exposure);
}

void resolveOne(const ResolveVolArgs &a, int32_t i) {
  resolveVolPixel(a.accumulator, a.totalDepth, a.image, a.imageFloat, i, a.exposure);
}

// Sums of nothing: what a pixel no sample reached holds.
struct ZeroSums {
  Rgba32f colour{0, 0, 0, 0};
  float depth = 0.0f;
};

ResolveArgs readingZeros(ResolveArgs a, const ZeroSums &zero) {
  a.accumulator = &zero.colour;
  return a;
}

ResolveVolArgs readingZeros(ResolveVolArgs a, const ZeroSums &zero) {
  a.accumulator = &zero.colour;
  a.totalDepth = &zero.depth;
  return a;
}

// A resolve's output for pixels whose sums are all zero, made by resolving one such pixel.
struct Background {
  template <typename Args> explicit Background(const Args &args) {
    const ZeroSums zero;
    Args one = readingZeros(args, zero);
    one.image = args.image ? &image : nullptr;
    one.imageFloat = args.imageFloat ? &imageFloat : nullptr;
    resolveOne(one, 0);
  }
  template <typename Args> void write(const Args &args, uint64_t begin, uint64_t end) const {
    if (args.image)
      std::fill(args.image + begin, args.image + end, image);
    if (args.imageFloat)
      std::fill(args.imageFloat + begin, args.imageFloat + end, imageFloat);
  }
  Rgba8 image{};
  Rgba32f imageFloat{};
};

// Pixels per tile of the accumulator: the resolve tells clean pixels from dirty ones in runs of
// these.
constexpr uint64_t kResolveRun = DirtyTiles::kTileBytes / sizeof(Rgba32f);

// Runs a resolve over the pixels the grid covers (threads past pixelCount do nothing), with the
// vectorised range function where the device has one. Where `sumsAreZero(begin, end)` says the
// pixels' sums are all zero, the background is written without reading them.
template <typename Args, typename SumsAreZero>
void resolvePixels(WorkerPool &pool, uint32_t blocks, const Args &args,
                   void (*vector)(const Args &, uint64_t, uint64_t), SumsAreZero &&sumsAreZero) {
  const uint64_t covered =
      std::min<uint64_t>(uint64_t(blocks) * kBlockSize, uint64_t(std::max(args.pixelCount, 0)));
  const Background background(args);
  auto resolve = [&](uint64_t begin, uint64_t end, bool zero) {
    if (zero) {
      background.write(args, begin, end);
    } else if (vector) {
      vector(args, begin, end);
    } else {
      for (uint64_t i = begin; i < end; ++i)
        resolveOne(args, int32_t(i));
    }
  };
  const uint64_t runs = (covered + kResolveRun - 1) / kResolveRun;
  pool.parallelFor(runs, pool.chunkFor(runs, 16), [&](uint64_t first, uint64_t last, unsigned) {
    const uint64_t end = std::min(covered, last * kResolveRun);
    // Neighbouring runs alike are resolved together, so the vector path sees long ranges.
    uint64_t begin = first * kResolveRun;
    bool zero = sumsAreZero(begin, std::min(end, begin + kResolveRun));
    for (uint64_t at = begin + kResolveRun; at < end; at += kResolveRun) {
      const bool next = sumsAreZero(at, std::min(end, at + kResolveRun));
      if (next != zero) {
        resolve(begin, at, zero);
        begin = at;
        zero = next;
      }
    }
    resolve(begin, end, zero);
  });
}

} // namespace

void CpuDevice::run(uint32_t blocks, const ResolveArgs &args) {
  const DirtyTiles sums = memoryTiles(args.accumulator);
  resolvePixels(pool_, blocks, args, vector_.resolve, [&](uint64_t begin, uint64_t end) {
    return !sums.anyDirty(args.accumulator + begin, (end - begin) * sizeof(Rgba32f));
  });
}

void CpuDevice::run(uint32_t blocks, const ResolveVolArgs &args) {
  const DirtyTiles sums = memoryTiles(args.accumulator);
  const DirtyTiles depths = memoryTiles(args.totalDepth);
  resolvePixels(pool_, blocks, args, vector_.resolveVol, [&](uint64_t begin, uint64_t end) {
    return !sums.anyDirty(args.accumulator + begin, (end - begin) * sizeof(Rgba32f)) &&
           !depths.anyDirty(args.totalDepth + begin, (end - begin) * sizeof(float));
  });
}

void CpuDevice::run(uint32_t, const GalaxyArgs &args) {
  pool_.parallelFor(args.count, pool_.chunkFor(args.count, 1024),
                    [&](uint64_t begin, uint64_t end, unsigned) {
                      for (uint64_t i = begin; i < end; ++i)
                        writeGalaxyParticle(args, i);
                    });
  memoryTiles(args.positions).markRange(args.positions, args.count * sizeof(EKV3));
  memoryTiles(args.colors).markRange(args.colors, args.count * sizeof(Rgba8));
  if (args.velocities)
    memoryTiles(args.velocities).markRange(args.velocities, args.count * sizeof(EKV3));
}

} // namespace ek
