// Host-side planning of a volumetric render: the robust box that sizes the density, and the
// constant block with lights, shadow-map projections and the camera depth range.
#pragma once

#include "kernels/frame.h"
#include "kernels/volume_constants.h"

namespace ek {

struct Box {
  EKV3 min, max;
};

// Mean plus or minus two standard deviations per axis from the moments (sums of x, y, z and of
// their squares), clipped to the padded box; an axis keeps the padded range when that spread is
// under 0.001 wide, and all do when there are fewer than two particles.
Box robustBox(const double moments[6], uint64_t count, const Box &padded);

// Fills `out` (already zeroed) and returns the number of floats all shadow maps need (UINT64_MAX
// when that does not fit in 64 bits).
uint64_t buildVolumeConstants(const EKCamera &camera, const EKRenderSettings &settings,
                              const Frame &frame, const EKLight *lights, int32_t lightCount,
                              const Box &padded, float densityScale, VolumeConstants &out);

} // namespace ek
