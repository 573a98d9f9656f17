// What a layered render gathers beside the beauty, and where its layers go: the records that the
// host fills and the layer kernels read.
#pragma once

#include <cstdint>

#include "kernels/volume_constants.h"

namespace ek {

// Where a layered render keeps its sums in each pixel's record of `stride` floats; -1 for a sum it
// does not gather. The volumetric look's shading gathers the parts of its light: colorSum is the
// sum of its samples' weight times colour (red, green, blue), which the emission and the ambient
// light each multiply by a constant, and each light's sum is that times the light's factor at the
// sample (its colour not applied). Motion is five floats: forward u and v and backward u and v,
// each times the sample's weight, then the sum of the weights.
struct LayerPlan {
  int32_t stride; // 0: the request needs no sums
  int32_t colorSum;
  int32_t lights[kMaxVolumeLights];
  int32_t motion;
};

constexpr int32_t kPartFloats = 3;
constexpr int32_t kMotionFloats = 5;
// The longest record a plan makes.
constexpr int32_t kMaxLayerStride = kPartFloats * (1 + kMaxVolumeLights) + kMotionFloats;

// The colours the resolve turns the volumetric sums into parts with: the emission and the ambient
// light times colorSum, each light's colour times its sum.
struct PartColors {
  float emission[3];
  float ambient[3];
  float lights[kMaxVolumeLights][3];
};

// The sums the additive look's splat gathers beside the beauty's, in a record of `stride` floats
// per pixel; -1 for those it does not gather. Motion is the forward u and v and backward u and v
// steps, the depth is kDepthMomentFloats moment terms (see depth_moments.h), each times the
// sample's alpha: the beauty's alpha sum is their weight.
struct AdditiveSums {
  int32_t stride; // 0: the beauty's sums alone
  int32_t motion;
  int32_t moments;
};

constexpr int32_t kMotionStepFloats = 4;

// The layer images the resolve writes, each null when not asked for; channels side by side.
struct LayerTargets {
  float *coverage;                 // 1 channel
  float *raw;                      // 3
  float *depth;                    // 1
  float *forward;                  // 2
  float *backward;                 // 2
  float *emission;                 // 3
  float *ambient;                  // 3
  float *lights[kMaxVolumeLights]; // 3 each
};

} // namespace ek
