#include "frame_builder.h"

#include "kernels/math_constants.h"
#include "vector_math.h"

#include <algorithm>
#include <cmath>

namespace ek {

namespace {

constexpr float kNearClip = 0.01f;

void setRow(float *row, const EKV3 &axis, float translation) {
  row[0] = axis.x;
  row[1] = axis.y;
  row[2] = axis.z;
  row[3] = translation;
}

void applySpherical(const EKCamera &camera, const EKRenderSettings &settings, Frame &f) {
  float lo = camera.lonMin, hi = camera.lonMax;
  if (!(hi > lo)) {
    lo = -180.0f;
    hi = 180.0f;
  }
  if (hi - lo > 360.0f)
    hi = lo + 360.0f;
  float bottom = std::max(camera.latMin, -90.0f), top = std::min(camera.latMax, 90.0f);
  if (!(top > bottom)) {
    bottom = -90.0f;
    top = 90.0f;
  }
  f.lonMin = lo * kRadiansPerDegree;
  f.lonSpan = (hi - lo) * kRadiansPerDegree;
  f.latMax = top * kRadiansPerDegree;
  f.latSpan = (top - bottom) * kRadiansPerDegree;
  f.pixelArea = (f.latSpan / float(settings.height)) * (f.lonSpan / float(settings.width));
  f.eyeOffset = camera.eyeOffset;
  f.zeroParallaxDistance = std::max(camera.zeroParallaxDistance, 0.0f);
  f.stereoPivotOffset = camera.stereoPivotOffset;
  f.topMergeMode = camera.topMergeMode;
  f.bottomMergeMode = camera.bottomMergeMode;
  f.topMergeAngle = camera.topMergeAngle * kRadiansPerDegree;
  f.bottomMergeAngle = camera.bottomMergeAngle * kRadiansPerDegree;
  f.topMergeExponent = camera.topMergeExponent;
  f.bottomMergeExponent = camera.bottomMergeExponent;
  // The latitude-longitude camera has no lens.
  f.apertureRadius = 0.0f;
  f.invFocusDistance = 0.0f;
}

} // namespace

Frame buildFrame(const EKCamera &camera, const EKRenderSettings &settings) {
  Frame f{};
  const EKV3 forward = normalizedIfLong(subtract(camera.target, camera.eye));
  const EKV3 right = normalizedIfLong(cross(forward, camera.up));
  const EKV3 up = cross(right, forward);
  setRow(f.view + 0, right, -dot(right, camera.eye));
  setRow(f.view + 4, up, -dot(up, camera.eye));
  setRow(f.view + 8, {-forward.x, -forward.y, -forward.z}, dot(forward, camera.eye));

  // The angle is formed in single precision; its tangent is rounded correctly from double, which
  // glibc's tanf does not always do.
  const float t = float(std::tan(double(camera.fovY * 0.5f * kPi / 180.0f)));
  f.scaleY = 1.0f / t;
  f.scaleX = f.scaleY / (float(settings.width) / float(settings.height));
  f.width = settings.width;
  f.height = settings.height;

  f.samples = std::max(settings.samples, 1);
  f.colorGain = settings.brightness * kColorScale / float(f.samples);
  f.gain = settings.brightness / float(f.samples);
  f.repopulation = std::max(settings.repopulation, 0);
  f.radius = settings.radius;
  f.shutter = std::max(settings.shutter, 0.0f);

  const bool lens = camera.aperture > 0.0f && camera.focusDistance > 0.0f;
  f.apertureRadius = lens ? camera.aperture : 0.0f;
  f.invFocusDistance = camera.focusDistance > 0.0f ? 1.0f / camera.focusDistance : 0.0f;
  f.nearClip = kNearClip;
  f.seed = settings.seed;
  f.pixelArea =
      (2.0f / (float(settings.width) * f.scaleX)) * (2.0f / (float(settings.height) * f.scaleY));

  f.projection = camera.projection == EK_PROJECTION_SPHERICAL ? EK_PROJECTION_SPHERICAL
                                                              : EK_PROJECTION_PERSPECTIVE;
  f.topMergeExponent = 1.0f;
  f.bottomMergeExponent = 1.0f;
  if (f.projection == EK_PROJECTION_SPHERICAL)
    applySpherical(camera, settings, f);
  return f;
}

} // namespace ek
