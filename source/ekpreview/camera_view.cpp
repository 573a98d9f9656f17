#include "ekpreview/camera_view.h"

#include <cmath>
#include <numbers>

#include "ekpreview/object_parameters.h"
#include "ekpreview/texts.h"
#include "host/host_ids.h"

namespace ek::plugin {

namespace {

namespace cam = host::camera;

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
// The lens assumed without a usable one: 36 mm focal length and a 60 degree horizontal field.
constexpr double kFallbackFocalLength = 36.0;
constexpr double kFallbackHorizontalField = std::numbers::pi / 3.0;
// Lens data in millimetres becomes scene units (centimetres) by this division.
constexpr double kMillimetresPerSceneUnit = 10.0;

double degreesParameter(const host::Object &camera, int32_t id, double fallbackDegrees) {
  return realParameter(camera, id, fallbackDegrees / kDegreesPerRadian) * kDegreesPerRadian;
}

EKV3 toRenderer(const host::Vector &v) { return {float(v[0]), float(v[1]), float(-v[2])}; }

} // namespace

SphericalCamera readSphericalCamera(const host::Object &camera) {
  SphericalCamera s;
  if (camera.type() != host::object::kTypeCamera) {
    return s;
  }
  s.spherical = integerParameter(camera, cam::kSphericalEnabled, 0) != 0 ||
                integerParameter(camera, cam::kProjection, 0) == cam::kProjectionSpherical;
  if (!s.spherical) {
    return s;
  }
  const int64_t stereoMode = integerParameter(camera, cam::kStereoMode, 0);
  s.stereo = stereoMode != 0;
  s.toeIn = stereoMode == cam::kStereoToeIn;
  s.cubic = integerParameter(camera, cam::kCubicMapping, 0) != 0;
  s.stereoLayout = int32_t(integerParameter(camera, cam::kStereoLayout, 0));
  if (integerParameter(camera, cam::kFullRange, 1) == 0) {
    s.lonMin = degreesParameter(camera, cam::kLongitudeMin, s.lonMin);
    s.lonMax = degreesParameter(camera, cam::kLongitudeMax, s.lonMax);
    s.latMin = degreesParameter(camera, cam::kLatitudeMin, s.latMin);
    s.latMax = degreesParameter(camera, cam::kLatitudeMax, s.latMax);
  }
  s.eyeSeparation = realParameter(camera, cam::kEyeSeparation, s.eyeSeparation);
  s.zeroParallaxDistance = realParameter(camera, cam::kZeroParallaxDistance, 0.0);
  s.stereoPivotOffset = realParameter(camera, cam::kStereoPivotOffset, 0.0);
  s.topMergeMode = int32_t(integerParameter(camera, cam::kTopMergeMode, 0));
  s.bottomMergeMode = int32_t(integerParameter(camera, cam::kBottomMergeMode, 0));
  s.topMergeAngle = degreesParameter(camera, cam::kTopMergeAngle, 0.0);
  s.bottomMergeAngle = degreesParameter(camera, cam::kBottomMergeAngle, 0.0);
  s.topMergeExponent = realParameter(camera, cam::kTopMergeExponent, 1.0);
  s.bottomMergeExponent = realParameter(camera, cam::kBottomMergeExponent, 1.0);
  return s;
}

EKCamera buildCamera(const host::Object &camera, int32_t width, int32_t height,
                     const DialogSettings &settings, const SphericalCamera &spherical,
                     int32_t eyeSign) {
  const host::Matrix m = camera.globalMatrix();
  EKCamera c{};
  c.eye = toRenderer(m.offset);
  c.target =
      toRenderer({m.offset[0] + m.axisZ[0], m.offset[1] + m.axisZ[1], m.offset[2] + m.axisZ[2]});
  c.up = toRenderer(m.axisY);

  double focalLength = kFallbackFocalLength;
  double horizontalField = kFallbackHorizontalField;
  if (auto lens = host::Camera::from(camera)) {
    const double f = lens->focalLength();
    const double a = lens->apertureWidth();
    if (f > 0.0 && a > 0.0) {
      focalLength = f;
      horizontalField = 2.0 * std::atan(a / (2.0 * f));
    }
  }
  c.fovY = float(2.0 * std::atan(std::tan(horizontalField / 2.0) * double(height) / double(width)) *
                 kDegreesPerRadian);

  if (settings.depthOfField) {
    c.focusDistance = float(settings.focus);
    c.aperture = settings.aperture > 0.0
                     ? float(focalLength / (2.0 * settings.aperture) / kMillimetresPerSceneUnit)
                     : 0.0f;
  }
  if (spherical.spherical) {
    c.projection = EK_PROJECTION_SPHERICAL;
    c.lonMin = float(spherical.lonMin);
    c.lonMax = float(spherical.lonMax);
    c.latMin = float(spherical.latMin);
    c.latMax = float(spherical.latMax);
    if (spherical.stereo && eyeSign != kSingleView) {
      c.eyeOffset = float(0.5 * spherical.eyeSeparation * double(eyeSign));
      c.zeroParallaxDistance = spherical.toeIn ? float(spherical.zeroParallaxDistance) : 0.0f;
      c.stereoPivotOffset = float(spherical.stereoPivotOffset);
      c.topMergeMode = spherical.topMergeMode;
      c.bottomMergeMode = spherical.bottomMergeMode;
      c.topMergeAngle = float(spherical.topMergeAngle);
      c.bottomMergeAngle = float(spherical.bottomMergeAngle);
      c.topMergeExponent = float(spherical.topMergeExponent);
      c.bottomMergeExponent = float(spherical.bottomMergeExponent);
    }
  }
  return c;
}

StereoTiles stereoTiles(const SphericalCamera &spherical, int32_t width, int32_t height) {
  StereoTiles t;
  auto add = [&](int32_t eye, int32_t x, int32_t y, int32_t w, int32_t h) {
    t.tiles[t.count++] = StereoTile{eye, x, y, w, h};
  };
  if (!spherical.spherical || !spherical.stereo) {
    add(kSingleView, 0, 0, width, height);
    return t;
  }
  const int32_t halfWidth = width / 2;
  const int32_t halfHeight = height / 2;
  switch (spherical.stereoLayout) {
  case cam::kLayoutSideBySide:
    add(kLeftEye, 0, 0, halfWidth, height);
    add(kRightEye, halfWidth, 0, width - halfWidth, height);
    break;
  case cam::kLayoutLeftOnly:
    add(kLeftEye, 0, 0, width, height);
    break;
  case cam::kLayoutRightOnly:
    add(kRightEye, 0, 0, width, height);
    break;
  default:
    add(kLeftEye, 0, 0, width, halfHeight);
    add(kRightEye, 0, halfHeight, width, height - halfHeight);
    break;
  }
  return t;
}

std::string describeProjection(const SphericalCamera &spherical, Language language) {
  std::string text = pick(text::kSpherical, language);
  if (spherical.stereo) {
    text += pick(spherical.toeIn ? text::kStereoToeIn : text::kStereoParallel, language);
    switch (spherical.stereoLayout) {
    case cam::kLayoutSideBySide:
      text += pick(text::kLayoutSideBySide, language);
      break;
    case cam::kLayoutLeftOnly:
      text += pick(text::kLayoutLeftOnly, language);
      break;
    case cam::kLayoutRightOnly:
      text += pick(text::kLayoutRightOnly, language);
      break;
    default:
      text += pick(text::kLayoutAboveUnder, language);
      break;
    }
  } else {
    text += pick(text::kMono, language);
  }
  if (spherical.cubic) {
    text += pick(text::kCubicNotSupported, language);
  }
  return text;
}

} // namespace ek::plugin
