// Turns the caller's camera and settings into the kernels' frame record.
#pragma once

#include "kernels/frame.h"

namespace ek {

Frame buildFrame(const EKCamera &camera, const EKRenderSettings &settings);

} // namespace ek
