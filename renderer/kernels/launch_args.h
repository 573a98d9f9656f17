// Arguments of each kernel launch, in the order the kernels take them.
#pragma once

#include <cstdint>

#include "kernels/frame.h"

namespace ek {

constexpr uint32_t kBlockSize = 256;

struct SplatArgs {
  EKFrame frame;
  const EKV3* positions;
  const Rgba8* colors;
  const EKV3* velocities; // null: no motion blur
  uint64_t total;         // particles x copies x samples
  Rgba32f* accumulator;
};

struct ResolveArgs {
  const Rgba32f* accumulator;
  Rgba8* image;         // may be null
  Rgba32f* imageFloat;  // may be null
  int32_t pixelCount;
  float exposure;
};

struct GalaxyArgs {
  EKV3* positions;
  Rgba8* colors;
  EKV3* velocities; // may be null
  uint64_t count;
  uint32_t seed;
};

} // namespace ek
