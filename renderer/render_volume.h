// The volumetric passes of ekRender, up to the resolve: bounds, constants, shadow maps, the
// camera depth map and shading.
#pragma once

#include <chrono>

#include "context.h"

namespace ek {

// Optional timing of the volumetric passes, for benchmarks: each mark waits for the device and
// books the time since the previous mark to one pass.
class PassTimer {
public:
  enum Pass { Bounds, Clears, LightSplat, ShadowPrefix, CameraSplat, CameraPrefix, Shade, Count };
  static constexpr const char *kNames[Count] = {
      "bounds", "clears", "light splat", "shadow prefix", "camera splat", "camera prefix", "shade"};

  explicit PassTimer(Device &device) : device_(device) { restart(); }
  void restart() {
    device_.synchronize();
    last_ = std::chrono::steady_clock::now();
  }
  void mark(Pass pass) {
    device_.synchronize();
    const auto now = std::chrono::steady_clock::now();
    ms[pass] += std::chrono::duration<double, std::milli>(now - last_).count();
    last_ = now;
  }

  double ms[Count] = {};

private:
  Device &device_;
  std::chrono::steady_clock::time_point last_;
};

// The constants of the camera depth map alone (no lights, no density) for the particles held,
// measured as a volumetric render measures them; for the depth layer of the additive look. The
// measure is kept in the context and taken again only once the particles (or the velocities
// read) have changed, so layered renders of the same particles measure them once.
bool cameraDepthConstants(EKContext *context, const EKCamera &camera,
                          const EKRenderSettings &settings, const Frame &frame,
                          const EKV3 *velocities, VolumeConstants &vol);

// Leaves the shaded light in the accumulator, the total optical depth per pixel in totalDepth
// and the prefixed camera depth map in cameraDepth; `used`, when given, receives the volume
// constants of the render, and `layers`, when given, names the layer sums that the shading
// gathers beside the light (cleared first). On failure the message is in the context's last error.
bool renderVolume(EKContext *context, const EKCamera &camera, const EKRenderSettings &settings,
                  const Frame &frame, const EKLight *lights, int32_t lightCount,
                  const EKV3 *velocities, PassTimer *timer = nullptr,
                  VolumeConstants *used = nullptr, const ShadeLayers *layers = nullptr);

} // namespace ek
