// The argument record of each kernel, and KernelArgs, the one of them a launch carries: the
// record's type names the kernel, so the device interface has one launch entry for every kernel.
#pragma once

#include <cstdint>
#include <variant>

#include "kernels/frame.h"
#include "kernels/layer_plan.h"
#include "kernels/volume_constants.h"

namespace ek {

constexpr uint32_t kBlockSize = 256;

struct SplatArgs {
  Frame frame;
  const EKV3 *positions;
  const Rgba8 *colors;
  const EKV3 *velocities; // null: no motion blur
  uint64_t total;         // particles x copies x samples
  Rgba32f *accumulator;
};

struct ResolveArgs {
  const Rgba32f *accumulator;
  Rgba8 *image;        // may be null
  Rgba32f *imageFloat; // may be null
  int32_t pixelCount;
  float exposure;
};

struct GalaxyArgs {
  EKV3 *positions;
  Rgba8 *colors;
  EKV3 *velocities; // may be null
  uint64_t count;
  uint32_t seed;
};

struct BoundsArgs {
  const EKV3 *positions;
  const EKV3 *velocities; // may be null
  uint64_t count;
  float *bounds;   // min x, y, z, max x, y, z, largest squared speed
  double *moments; // sums of x, y, z and of their squares, and the number of particles summed
  // The volumetric passes that follow visit the particles in space order, which a CPU device
  // makes along with the bounds; a measure for the depth range alone leaves it out.
  bool spaceOrder = true;
};

// The volumetric splatting passes carry the render's volume constants with them, so nothing that
// another render on the same device writes meanwhile can reach their reads.
struct LightSplatArgs {
  Frame frame; // samples 1
  VolumeConstants vol;
  const EKV3 *positions;
  const EKV3 *velocities;
  uint64_t total;
  MapCell *shadowMaps;
};

// Turns columns of map cells into thickness in place (prefixColumn).
struct PrefixArgs {
  MapCell *columns;
  uint64_t columnCount;
  int32_t depth;
  float *totals; // may be null
};

struct CamSplatArgs {
  Frame frame;
  VolumeConstants vol;
  const EKV3 *positions;
  const EKV3 *velocities;
  uint64_t total;
  MapCell *cameraDepth;
};

// The sums a layered render's shading gathers beside the beauty, into records of plan.stride
// floats per pixel; sums null for a render without them.
struct ShadeLayers {
  LayerPlan plan;
  const EKV3 *velocities; // the particles' velocities for the motion sums, null without them
  float *sums;
};

struct ShadeArgs {
  Frame frame;
  VolumeConstants vol;
  const EKV3 *positions;
  const Rgba8 *colors;
  const EKV3 *velocities;
  uint64_t total;
  const MapCell *shadowMaps;
  const MapCell *cameraDepth;
  Rgba32f *accumulator;
  ShadeLayers layers;
};

struct ResolveVolArgs {
  const Rgba32f *accumulator;
  const float *totalDepth;
  Rgba8 *image;
  Rgba32f *imageFloat;
  int32_t pixelCount;
  float exposure;
};

// The additive look's splat for a layered render that needs sums of its own: the beauty's splat,
// which also adds each sample's motion and depth terms to its pixel's record in `sums`.
struct AdditiveLayerSplatArgs {
  SplatArgs beauty;
  AdditiveSums plan;
  const EKV3 *motionVelocities; // the particles' velocities when the plan has motion
  float depthStart;             // the start of the depth range the moments are normalised over
  float depthScale;             // 2 / the range's span: normalised units per scene unit
  float *sums;                  // pixels x plan.stride
};

// The volumetric look's layer images from the beauty's sums, the shading's layer sums and the
// camera depth map; one thread per pixel.
struct ResolveLayersArgs {
  const Rgba32f *accumulator;
  const Rgba32f *image;    // the beauty's float image, resolved before, when the render makes one
  const float *totalDepth; // each pixel's optical thickness
  const MapCell *cameraDepth; // the prefixed camera depth map
  const float *sums;          // the layer sums; null when none were gathered
  LayerPlan plan;
  PartColors colors;
  LayerTargets targets;
  int32_t camSlices;
  float camDepthStart;
  float camDepthScale;
  int32_t pixelCount;
  float exposure;
};

// The additive look's layer images from the beauty's sums and its splat's own; one thread per
// pixel.
struct ResolveAdditiveLayersArgs {
  const Rgba32f *accumulator;
  const Rgba32f *image; // the beauty's float image, resolved before, when the render makes one
  const float *sums;    // null when the plan gathers none
  AdditiveSums plan;
  LayerTargets targets;
  float depthStart;
  float depthSpan;
  int32_t pixelCount;
  float exposure;
};

using KernelArgs =
    std::variant<SplatArgs, ResolveArgs, GalaxyArgs, BoundsArgs, LightSplatArgs, PrefixArgs,
                 CamSplatArgs, ShadeArgs, ResolveVolArgs, ResolveLayersArgs, AdditiveLayerSplatArgs,
                 ResolveAdditiveLayersArgs>;

} // namespace ek
