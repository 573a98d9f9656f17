// The volumetric passes of ekRender, up to the resolve: bounds, constants, shadow maps, the
// camera depth map and shading.
#pragma once

#include "context.h"

namespace ek {

// Leaves the shaded light in the accumulator and the total optical depth per pixel in
// totalDepth. On failure the message is in the context's last error.
bool renderVolume(EKContext* context, const EKCamera& camera, const EKRenderSettings& settings,
                  const EKFrame& frame, const EKLight* lights, int32_t lightCount,
                  const EKV3* velocities);

} // namespace ek
