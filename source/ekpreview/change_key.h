// The text key of every input of a preview render: an unchanged key means an unchanged image.
#pragma once

#include <cstdint>
#include <string>

#include "ekpreview/camera_view.h"
#include "ekpreview/scene_lights.h"
#include "emberkit.h"

namespace ek::plugin {

// Joins the particle upload's generation, the image size, the camera and render settings of the
// full image, the used lights and the spherical settings. Reals are written exactly (shortest
// round-trip form), so any change of a value changes the key.
std::string previewKey(int32_t uploadGeneration, const EKCamera &camera,
                       const EKRenderSettings &settings, const LightTable &lights,
                       const SphericalCamera &spherical);

} // namespace ek::plugin
