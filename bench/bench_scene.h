// The scene the volumetric benchmarks render: the test cloud seen from one camera at 1920 x 1080,
// lit by a spot and a point light that both cast shadows, at medium quality.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "bench_options.h"
#include "emberkit.h"

namespace ek::bench {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int32_t kSceneLightCount = 2;

inline double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// A context on the options' device holding the test cloud (with velocities when asked), and the
// device's description in `info`; null, with the error printed under `program`, on failure.
inline EKContext *openTestCloud(const char *program, const Options &o, int32_t velocities,
                                char *info, int32_t infoSize) {
  EKContext *context = ekCreate(o.device);
  if (!context || ekLastError(context)[0] || ekDeviceInfo(context, info, infoSize) ||
      ekGenerateTestCloud(context, o.particles, 1, velocities) != 0) {
    std::fprintf(stderr, "%s: %s\n", program, ekLastError(context));
    ekDestroy(context);
    return nullptr;
  }
  return context;
}

inline EKCamera sceneCamera() {
  EKCamera camera{};
  camera.eye = {0, 120, 220};
  camera.up = {0, 1, 0};
  camera.fovY = 45;
  return camera;
}

// The volumetric look at medium quality: 512 x 512 shadow maps of 64 slices, 32 camera slices.
inline void setMediumVolume(EKRenderSettings &settings) {
  settings.mode = EK_MODE_VOLUMETRIC;
  settings.density = 1;
  settings.emission = 0.05f;
  settings.shadowMapSize = 512;
  settings.shadowSlices = 64;
  settings.cameraSlices = 32;
}

// A white spot light from above and in front, and a warm point light to the side.
inline void sceneLights(EKLight (&lights)[kSceneLightCount]) {
  lights[0] = EKLight{};
  lights[0].type = EK_LIGHT_SPOT;
  lights[0].position = {0, 150, 150};
  lights[0].direction = {0, -1, -1};
  lights[0].color[0] = lights[0].color[1] = lights[0].color[2] = 3;
  lights[0].outerAngle = 60;
  lights[0].innerAngle = 40;
  lights[0].castsShadows = 1;
  lights[1] = EKLight{};
  lights[1].type = EK_LIGHT_POINT;
  lights[1].position = {120, 40, 0};
  lights[1].color[0] = 2;
  lights[1].color[1] = 1.5f;
  lights[1].color[2] = 1;
  lights[1].castsShadows = 1;
}

} // namespace ek::bench
