// The CPU backend's vectorised paths: range functions that give the results of the scalar item
// functions for many items at once. Which of them run is chosen once per device, from what this
// build contains and what the processor supports; the kernels take that choice as it is handed to
// them and never test for instruction sets themselves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "cpu/cpu_work_items.h"
#include "cpu/kept_camera_samples.h"
#include "cpu/kept_lookups.h"
#include "cpu/prefetch.h"
#include "kernels/additive.h"
#include "kernels/launch_args.h"
#include "kernels/volume.h"

namespace ek {

// Index of the lowest set bit of a non-zero mask.
inline uint32_t lowestBit(uint64_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return uint32_t(__builtin_ctzll(mask));
#else
  uint32_t bit = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++bit;
  }
  return bit;
#endif
}

// Up to kLanes perspective samples that draw from their random stream (motion blur or lens), given
// as runs: the samples of one copy that follow one another in the lanes. Each lane names its run,
// and a run holds what its samples share: its particle's part of the stream (particleStreamKey),
// the base of its samples' parts (the part of the sample in lane L is keyBase + L x
// kSampleMultiplier, which is sampleStreamKey's sum modulo 2^32), the copy's position and, when
// motion blur applies, the particle's velocity. A copy's position is thus written once, not once
// per sample, and the placing works out what its samples share once per run. Lanes are placed
// eight at a time, each step reading the eight runs from its first lane's on, so `run` has room for
// seven lanes past the last and the run arrays for seven runs past the last lane's.
struct SampleLanes {
  static constexpr uint32_t kLanes = 64; // a bit each in a 64-bit mask
  static constexpr uint32_t kRoom = kLanes + 7;
  uint8_t run[kRoom];
  uint32_t particleKey[kRoom], keyBase[kRoom];
  float x[kRoom], y[kRoom], z[kRoom];
  float vx[kRoom], vy[kRoom], vz[kRoom];
};

// Up to eight light samples placed in the maps of every light, as lightSampleHit, mapSlices and
// lightSampleThickness place each one: per light, a bit per lane that lands in one of its maps and,
// in those lanes, the map, the texel position, the depth slices and the thickness deposited.
struct LightLanes {
  static constexpr uint32_t kLanes = 8;
  uint32_t hits[kMaxVolumeLights];
  int32_t map[kMaxVolumeLights][kLanes];
  float px[kMaxVolumeLights][kLanes], py[kMaxVolumeLights][kLanes];
  int32_t k0[kMaxVolumeLights][kLanes], k1[kMaxVolumeLights][kLanes];
  float fraction[kMaxVolumeLights][kLanes];
  float thickness[kMaxVolumeLights][kLanes];

  MapHit hit(int light, uint32_t lane) const {
    return {px[light][lane], py[light][lane], 0.0f, 0.0f};
  }
  Slices slices(int light, uint32_t lane) const {
    return {k0[light][lane], k1[light][lane], fraction[light][lane]};
  }
};

// The camera samples of up to eight copies whose samples coincide and draw nothing (a perspective
// camera without a lens, no motion blur), placed as cameraSampleOfCopy places each: a bit per
// lane that lands in the image and, in those lanes, the pixel, the depth slices and the coverage.
struct CameraLanes {
  static constexpr uint32_t kLanes = 8;
  uint32_t placed;
  uint32_t pixel[kLanes];
  int32_t k0[kLanes], k1[kLanes];
  float fraction[kLanes], coverage[kLanes];

  // The lane's sample as cameraSampleOfCopy gives it, but for the work item and the position.
  CameraSample sample(uint32_t lane) const {
    CameraSample s{};
    s.pixel = pixel[lane];
    s.slices = {k0[lane], k1[lane], fraction[lane]};
    s.coverage = coverage[lane];
    return s;
  }
};

// Where the shading of up to eight copies reads each shadowing light's maps, made ahead of it
// from the light pass's lookups (stageShadowTaps): per light, a bit per lane whose lookup lies
// inside the light's map and, in those lanes, the four texels' columns and the weights
// (texelTaps), the depth slice and its fraction. The weights and fractions of other lanes are
// zero.
struct ShadowTapLanes {
  static constexpr uint32_t kLanes = 8;
  uint32_t inside[kMaxVolumeLights];
  const MapCell *column[kMaxVolumeLights][4][kLanes];
  int32_t k0[kMaxVolumeLights][kLanes];
  float fraction[kMaxVolumeLights][kLanes];
  float fx[kMaxVolumeLights][kLanes], fy[kMaxVolumeLights][kLanes];
};

// The taps of `lanes` (a bit per lane) from their lookups in every shadowing light's maps
// (`lookups`, lightCount per lane), as shadowThickness takes them, asking for each texel's memory
// ahead of the shading.
inline void stageShadowTaps(const VolumeConstants &vol, const KeptLookup *lookups, uint32_t lanes,
                            const MapCell *shadowMaps, ShadowTapLanes &out) {
  const uint64_t lights = uint64_t(vol.lightCount);
  for (int i = 0; i < vol.lightCount; ++i) {
    out.inside[i] = 0;
    std::fill(out.fraction[i], out.fraction[i] + ShadowTapLanes::kLanes, 0.0f);
    std::fill(out.fx[i], out.fx[i] + ShadowTapLanes::kLanes, 0.0f);
    std::fill(out.fy[i], out.fy[i] + ShadowTapLanes::kLanes, 0.0f);
    if (vol.lights[i].mapCount < 1)
      continue;
    for (uint32_t pending = lanes; pending != 0; pending &= pending - 1) {
      const uint32_t lane = lowestBit(pending);
      const KeptLookup &k = lookups[uint64_t(lane) * lights + uint64_t(i)];
      if (!k.inside)
        continue;
      const TexelTaps taps = texelTaps(vol.maps[k.map], {k.px, k.py, 0.0f, 0.0f}, shadowMaps);
      for (int t = 0; t < 4; ++t) {
        out.column[i][t][lane] = taps.column[t];
        prefetch(taps.column[t] + k.k0);
      }
      out.k0[i][lane] = k.k0;
      out.fraction[i][lane] = k.fraction;
      out.fx[i][lane] = taps.fx;
      out.fy[i][lane] = taps.fy;
      out.inside[i] |= 1u << lane;
    }
  }
}

// Up to eight copies' samples to shade from what the camera pass and the light pass kept of them
// (samples that coincide and draw nothing): each lane's copy, its camera sample, where it reads
// every light's maps (`taps`) and its particle's colour.
struct ShadeInputs {
  const EKV3 *positions;
  const KeptCameraSample *camera;
  const ShadowTapLanes *taps;
  Rgba8 color[8];
  const MapCell *cameraDepth;
};

// What shadeCameraSample gives those lanes: a bit per lane that is placed and visible, and in
// those lanes the pixel and the colour added to it.
struct ShadedLanes {
  static constexpr uint32_t kLanes = 8;
  uint32_t shaded;
  uint32_t pixel[kLanes];
  float r[kLanes], g[kLanes], b[kLanes];

  SplatSample sample(uint32_t lane) const {
    return {pixel[lane], {r[lane], g[lane], b[lane], 0.0f}};
  }
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
  uint64_t (*placeSamples)(const Frame &frame, bool motionBlur, const SampleLanes &lanes,
                           uint32_t count, uint32_t pixel[SampleLanes::kLanes]) = nullptr;
  // The sine and cosine that placeSamples gives the lens angle, of `count` angles in [0, 2 pi) (a
  // multiple of eight), for checks that they are sinf's and cosf's.
  void (*sineCosine)(const float *angles, float *sine, float *cosine, uint64_t count) = nullptr;
  // Places the light samples at the first `count` (at most eight) of `positions` in the maps of
  // every light of `vol`, the depth's logarithm taken with the C library's logf.
  void (*placeLightSamples)(const VolumeConstants &vol, const EKV3 *positions, uint32_t count,
                            LightLanes &out) = nullptr;
  // Places the camera samples of copies at the first `count` (at most eight) of `positions`, for a
  // frame with a perspective camera without a lens.
  void (*placeCameraSamples)(const Frame &frame, const VolumeConstants &vol, const EKV3 *positions,
                             uint32_t count, CameraLanes &out) = nullptr;
  // expf of `count` values (a multiple of eight) as shadeSamples works it out, for checks that it
  // is the C library's.
  void (*exponential)(const float *values, float *results, uint64_t count) = nullptr;
  // Shades the first `count` (at most eight) lanes of `in` as shadeCameraSample would.
  void (*shadeSamples)(const VolumeConstants &vol, const ShadeInputs &in, uint32_t count,
                       ShadedLanes &out) = nullptr;
};

// Whether `sineCosine` gives the floats of this process's sinf and cosf on angles spread over all
// that the lens can draw. The lane path works them out as GNU libc does; where the C library works
// otherwise, its samples could land apart from the item function's, and the device places them
// with the item functions instead.
bool sineCosineMatchesCLibrary(decltype(VectorPaths::sineCosine) sineCosine);

// Whether `exponential` gives the floats of this process's expf, on values spread over every
// exponent and on values where the ways libraries work it out part. The shading's lanes work it
// out as GNU libc does with FMA; where the C library works otherwise, the device shades with the
// item functions instead.
bool exponentialMatchesCLibrary(decltype(VectorPaths::exponential) exponential);

// What the processor running this library supports.
struct CpuFeatures {
  bool avx2Fma = false; // AVX2 and FMA instructions
};

// The vectorised paths of this build that a processor with `features` can run.
VectorPaths vectorPathsFor(const CpuFeatures &features);

// Keeps a function apart from its caller. The lane path holds many values and a large frame;
// inlined into the splat's worker loop, it left the other paths of that loop with fewer registers
// (the splat of coinciding samples ran about a tenth slower).
#if defined(__GNUC__) || defined(__clang__)
#define EK_NOT_INLINED __attribute__((noinline))
#elif defined(_MSC_VER)
#define EK_NOT_INLINED __declspec(noinline)
#else
#define EK_NOT_INLINED
#endif

// A block of lanes and what placing it gave: a bit per lane that lands in the image, each lane's
// pixel, and what each run's samples add (the value of one copy's samples).
struct PlacedLanes {
  SampleLanes lanes;
  uint64_t hits = 0;
  uint32_t pixel[SampleLanes::kLanes];
  Rgba32f runValue[SampleLanes::kLanes];
};

// Adds the samples of a placed block, in lane order, and leaves it empty. Meanwhile it asks for
// the cells of the samples of `next` (if any), one between two additions: asked for all at once,
// more misses would be outstanding than the processor tracks, and it would stall until the first
// ones arrive.
template <typename Batch>
void addPlaced(PlacedLanes &block, Batch &batch, const PlacedLanes *next = nullptr) {
  uint64_t ask = next ? next->hits : 0;
  for (uint64_t hits = block.hits; hits != 0; hits &= hits - 1) {
    if (ask != 0) {
      batch.prefetch(next->pixel[lowestBit(ask)]);
      ask &= ask - 1;
    }
    const uint32_t lane = lowestBit(hits);
    batch.addNow({block.pixel[lane], block.runValue[block.lanes.run[lane]]});
  }
  for (; ask != 0; ask &= ask - 1)
    batch.prefetch(next->pixel[lowestBit(ask)]);
  block.hits = 0;
}

// Places the splat's work items [begin, end) with `place`, for perspective samples that draw from
// their stream; batch.addNow receives the samples that land, in item order. The copy's position
// (with its repopulation offset) is made once per copy and what a sample adds and its particle's
// part of the stream once per particle, and shared by their samples.
template <typename Batch>
EK_NOT_INLINED void splatInLanes(const SplatArgs &a, uint64_t begin, uint64_t end,
                                 decltype(VectorPaths::placeSamples) place, Batch &batch) {
  const Frame &f = a.frame;
  const bool blur = usesMotionBlur(f, a.velocities);
  // Two blocks take turns: while one is filled and placed, the cells of the other's samples,
  // asked for right after it was placed, arrive; its samples are added once the next block is
  // placed.
  // The samples themselves are never copied into a batch, and every miss has a block's placing
  // to arrive in.
  PlacedLanes blocks[2];
  PlacedLanes *block = &blocks[0], *previous = &blocks[1];
  uint32_t filled = 0, runs = 0;
  auto flush = [&] {
    block->hits = place(f, blur, block->lanes, filled, block->pixel);
    addPlaced(*previous, batch, block);
    std::swap(block, previous);
    filled = runs = 0;
  };
  uint64_t particle = UINT64_MAX;
  uint32_t particleKey = 0;
  Rgba32f value{};
  forEachCopyRun(f.repopulation, f.samples, begin, end, [&](const WorkItem &w, uint32_t count) {
    if (w.particle != particle) {
      particle = w.particle;
      particleKey = particleStreamKey(particle);
      value = splatValue(f, a.colors[particle]);
    }
    const EKV3 position = copyPosition(f, a.positions[particle], w);
    // The copy's samples, as many at a time as the lanes left hold, each time as one run.
    for (uint32_t sample = w.sample, last = w.sample + count; sample < last;) {
      const uint32_t n = std::min(last - sample, SampleLanes::kLanes - filled);
      SampleLanes &lanes = block->lanes;
      const uint32_t run = runs++;
      lanes.particleKey[run] = particleKey;
      // sampleStreamKey(w.copy, sample + i, seed) for lane filled + i, modulo 2^32 as it is.
      lanes.keyBase[run] = sampleStreamKey(w.copy, sample - filled, f.seed);
      lanes.x[run] = position.x;
      lanes.y[run] = position.y;
      lanes.z[run] = position.z;
      if (blur) {
        const EKV3 &v = a.velocities[particle];
        lanes.vx[run] = v.x;
        lanes.vy[run] = v.y;
        lanes.vz[run] = v.z;
      }
      // Whole steps of eight lanes, the last one past the copy's samples as SampleLanes allows.
      const uint64_t eightRuns = uint64_t(run) * 0x0101010101010101u;
      for (uint32_t step = 0; step < n; step += 8)
        std::memcpy(lanes.run + filled + step, &eightRuns, 8);
      block->runValue[run] = value;
      filled += n;
      sample += n;
      if (filled == SampleLanes::kLanes)
        flush();
    }
  });
  if (filled > 0)
    flush();
  addPlaced(*previous, batch);
}

} // namespace ek
