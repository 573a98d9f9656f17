// The line of figures the preview shows after each render.
#pragma once

#include <cstdint>
#include <string>

#include "ekpreview/camera_view.h"
#include "ekpreview/language.h"
#include "ekpreview/scene_lights.h"

namespace ek::plugin {

struct RenderStatistics {
  int64_t particleCount = 0;
  int32_t repopulation = 0;
  int32_t samples = 1; // effective samples per particle copy
  double readMs = 0.0, uploadMs = 0.0, renderMs = 0.0, gpuMs = 0.0;
  bool motionBlur = false;
  double meanSpeedRaw = 0.0;
  bool volumetric = false;
  bool onCpu = false;
};

// "Particles: 120000 | Samples: 0.48 M | Read 3.2 ms | ..." with the mean speed under motion
// blur, the projection of a spherical camera, the lights of the volumetric look and the CPU mark.
std::string statisticsLine(const RenderStatistics &s, const SphericalCamera &spherical,
                           const LightTable &lights, Language language);

} // namespace ek::plugin
