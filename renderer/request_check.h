// Checks of a render request beyond what the records' types express.
#pragma once

#include <cstdint>

#include "emberkit.h"

namespace ek {

// True when every real number of the request is finite: the camera's, the settings' and those of
// the lights the volumetric look uses. A not-a-number or infinite value would spread through the
// frame or the volume constants into every pixel.
bool isFiniteRequest(const EKCamera &camera, const EKRenderSettings &settings,
                     const EKLight *lights, int32_t lightCount);

} // namespace ek
