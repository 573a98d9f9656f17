// The camera and settings records that the renderer tests start from; each test sets on top of
// them what it is about.
#pragma once

#include <cstdint>

#include "emberkit.h"

namespace ek::test {

// A perspective camera at `eye` looking at `target`, up along +y, `fovY` degrees high.
inline EKCamera lookingAt(EKV3 eye, EKV3 target, float fovY) {
  EKCamera camera{};
  camera.eye = eye;
  camera.target = target;
  camera.up = {0, 1, 0};
  camera.fovY = fovY;
  return camera;
}

// A width x height image of the additive look: brightness 1, exposure 1, one sample.
inline EKRenderSettings imageSettings(int32_t width, int32_t height) {
  EKRenderSettings settings{};
  settings.width = width;
  settings.height = height;
  settings.brightness = 1;
  settings.exposure = 1;
  settings.samples = 1;
  return settings;
}

// The volumetric look on a width x height image: `density`, shadow maps of shadowMapSize texels
// square in shadowSlices slices, and cameraSlices slices along the view.
inline EKRenderSettings volumeSettings(int32_t width, int32_t height, float density,
                                       int32_t shadowMapSize, int32_t shadowSlices,
                                       int32_t cameraSlices) {
  EKRenderSettings settings = imageSettings(width, height);
  settings.mode = EK_MODE_VOLUMETRIC;
  settings.density = density;
  settings.shadowMapSize = shadowMapSize;
  settings.shadowSlices = shadowSlices;
  settings.cameraSlices = cameraSlices;
  return settings;
}

} // namespace ek::test
