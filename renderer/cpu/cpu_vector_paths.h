// The CPU backend's vectorised paths: range functions that give the results of the scalar item
// functions for many items at once. Which of them run is chosen once per device, from what this
// build contains and what the processor supports; the kernels take that choice as it is handed to
// them and never test for instruction sets themselves.
#pragma once

#include <cstdint>

#include "cpu/cpu_work_items.h"
#include "kernels/additive.h"
#include "kernels/launch_args.h"

namespace ek {

// Up to eight perspective samples that draw from their random stream (motion blur or lens), laid
// out one lane each: the particle's index halves, copy and sample, its position after the copy's
// offset, and its velocity when motion blur applies.
struct SampleLanes {
  uint32_t particleLow[8], particleHigh[8], copy[8], sample[8];
  float x[8], y[8], z[8];
  float vx[8], vy[8], vz[8];
};

// Each member is null where the scalar item functions run instead.
struct VectorPaths {
  // Resolves pixels [begin, end).
  void (*resolve)(const ResolveArgs &args, uint64_t begin, uint64_t end) = nullptr;
  void (*resolveVol)(const ResolveVolArgs &args, uint64_t begin, uint64_t end) = nullptr;
  // The resolve's gamma encoding of `count` values into bytes, by its table (`byTable`) or with
  // SLEEF's functions, for checks that the two agree; null where the table is not used.
  void (*gammaBytes)(const float *values, uint8_t *bytes, uint64_t count, bool byTable) = nullptr;
  // Places the first `count` lanes of perspective samples as samplePosition and
  // projectPerspective would; returns a bit per lane that lands in the image and that lane's pixel
  // index in `pixel`.
  uint32_t (*placeSamples)(const EKFrame &frame, bool motionBlur, const SampleLanes &lanes,
                           uint32_t count, uint32_t pixel[8]) = nullptr;
};

// What the processor running this library supports.
struct CpuFeatures {
  bool avx2Fma = false; // AVX2 and FMA instructions
};

// The vectorised paths of this build that a processor with `features` can run.
VectorPaths vectorPathsFor(const CpuFeatures &features);

// Index of the lowest set bit of a non-zero mask.
inline uint32_t lowestBit(uint32_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return uint32_t(__builtin_ctz(mask));
#else
  uint32_t bit = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++bit;
  }
  return bit;
#endif
}

// Places the splat's work items [begin, end) eight at a time with `place`, for perspective samples
// that draw from their stream; batch.add receives the samples that land, in item order. The copy's
// position (with its repopulation offset) is made once per copy and what a sample adds once per
// particle, and shared by their samples.
template <typename Batch>
void splatInLanes(const SplatArgs &a, uint64_t begin, uint64_t end,
                  decltype(VectorPaths::placeSamples) place, Batch &batch) {
  const EKFrame &f = a.frame;
  const bool blur = usesMotionBlur(f, a.velocities);
  SampleLanes lanes;
  Rgba32f values[8];
  uint32_t filled = 0;
  auto flush = [&] {
    uint32_t pixel[8];
    for (uint32_t hits = place(f, blur, lanes, filled, pixel); hits != 0; hits &= hits - 1) {
      const uint32_t lane = lowestBit(hits);
      batch.add({pixel[lane], values[lane]});
    }
    filled = 0;
  };
  // What the current copy's samples share: its position and what each of them adds.
  uint64_t copyParticle = UINT64_MAX;
  uint32_t copyIndex = 0;
  EKV3 copyPosition{};
  Rgba32f copyValue{};
  forEachWorkItem(f.repopulation, f.samples, begin, end, nullptr, [&](const WorkItem &w, bool) {
    if (w.particle != copyParticle || w.copy != copyIndex) {
      if (w.particle != copyParticle)
        copyValue = splatValue(f, a.colors[w.particle]);
      copyParticle = w.particle;
      copyIndex = w.copy;
      copyPosition = a.positions[w.particle];
      if (w.copy > 0) {
        const EKV3 offset = repopulationOffset(w.particle, w.copy, f.radius);
        copyPosition = {copyPosition.x + offset.x, copyPosition.y + offset.y,
                        copyPosition.z + offset.z};
      }
    }
    values[filled] = copyValue;
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

} // namespace ek
