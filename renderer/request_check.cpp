#include "request_check.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "kernels/volume_constants.h"

namespace ek {

namespace {

bool allFinite(std::initializer_list<float> values) {
  return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

bool isFinitePoint(const EKV3 &p) { return allFinite({p.x, p.y, p.z}); }

bool isFiniteCamera(const EKCamera &c) {
  return isFinitePoint(c.eye) && isFinitePoint(c.target) && isFinitePoint(c.up) &&
         allFinite({c.fovY, c.focusDistance, c.aperture, c.lonMin, c.lonMax, c.latMin, c.latMax,
                    c.eyeOffset, c.zeroParallaxDistance, c.stereoPivotOffset, c.topMergeAngle,
                    c.bottomMergeAngle, c.topMergeExponent, c.bottomMergeExponent});
}

bool isFiniteSettings(const EKRenderSettings &s) {
  return allFinite({s.brightness, s.exposure, s.radius, s.shutter, s.density, s.emission,
                    s.ambient[0], s.ambient[1], s.ambient[2], s.scattering});
}

bool isFiniteLight(const EKLight &l) {
  return isFinitePoint(l.position) && isFinitePoint(l.direction) &&
         allFinite({l.color[0], l.color[1], l.color[2], l.outerAngle, l.innerAngle, l.falloffRadius,
                    l.falloffInner});
}

} // namespace

bool isFiniteRequest(const EKCamera &camera, const EKRenderSettings &settings,
                     const EKLight *lights, int32_t lightCount) {
  if (!isFiniteCamera(camera) || !isFiniteSettings(settings))
    return false;
  // Only the volumetric look reads lights, and only the first kMaxVolumeLights of them.
  if (settings.mode != EK_MODE_VOLUMETRIC || !lights)
    return true;
  const int32_t used = std::clamp(lightCount, 0, kMaxVolumeLights);
  return std::all_of(lights, lights + used, isFiniteLight);
}

} // namespace ek
