#include "scene/builders.h"

#include "host/host_ids.h"

namespace standin {

namespace {

namespace cam = ek::host::camera;
namespace lit = ek::host::light;

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

void setSpherical(SceneObject &camera, const SphericalSpec &s) {
  auto &p = camera.parameters;
  p[cam::kSphericalEnabled] = int64_t(1);
  p[cam::kFullRange] = int64_t(s.fullRange ? 1 : 0);
  p[cam::kLongitudeMin] = s.longitudeMin * kRadiansPerDegree;
  p[cam::kLongitudeMax] = s.longitudeMax * kRadiansPerDegree;
  p[cam::kLatitudeMin] = s.latitudeMin * kRadiansPerDegree;
  p[cam::kLatitudeMax] = s.latitudeMax * kRadiansPerDegree;
  p[cam::kStereoMode] = int64_t(s.stereoMode);
  p[cam::kStereoLayout] = int64_t(s.stereoLayout);
  p[cam::kEyeSeparation] = s.eyeSeparation;
  p[cam::kZeroParallaxDistance] = s.zeroParallaxDistance;
  p[cam::kStereoPivotOffset] = s.pivotOffset;
  p[cam::kTopMergeMode] = int64_t(s.topMergeMode);
  p[cam::kBottomMergeMode] = int64_t(s.bottomMergeMode);
  p[cam::kTopMergeAngle] = s.topMergeAngle * kRadiansPerDegree;
  p[cam::kBottomMergeAngle] = s.bottomMergeAngle * kRadiansPerDegree;
  p[cam::kTopMergeExponent] = s.topMergeExponent;
  p[cam::kBottomMergeExponent] = s.bottomMergeExponent;
  p[cam::kCubicMapping] = int64_t(s.cubic ? 1 : 0);
}

} // namespace

std::unique_ptr<SceneObject> makeCamera(const CameraSpec &spec) {
  auto camera = std::make_unique<SceneObject>(ek::host::object::kTypeCamera, spec.name);
  camera->matrix = spec.matrix ? *spec.matrix : lookAt(spec.eye, spec.target, spec.up);
  camera->focalLength = spec.focalLength;
  camera->apertureWidth = spec.apertureWidth;
  camera->parameters[cam::kProjection] = int64_t(0);
  if (spec.focusDistance) {
    camera->parameters[cam::kFocusDistance] = *spec.focusDistance;
  }
  if (spec.fNumber) {
    camera->parameters[cam::kFNumber] = *spec.fNumber;
  }
  if (spec.spherical) {
    setSpherical(*camera, *spec.spherical);
  }
  return camera;
}

std::unique_ptr<SceneObject> makeLight(const LightSpec &spec) {
  auto light = std::make_unique<SceneObject>(ek::host::object::kTypeLight, spec.name);
  const Vec3 target = spec.target ? *spec.target : spec.position + Vec3{0.0, 0.0, 1.0};
  light->matrix = lookAt(spec.position, target, Vec3{0.0, 1.0, 0.0});
  auto &p = light->parameters;
  p[lit::kType] = int64_t(spec.lightType);
  p[lit::kColor] = spec.color;
  p[lit::kIntensity] = spec.intensity;
  if (spec.outerAngle) {
    p[lit::kOuterAngle] = *spec.outerAngle * kRadiansPerDegree;
  }
  p[lit::kUseInnerAngle] = int64_t(spec.innerAngle ? 1 : 0);
  if (spec.innerAngle) {
    p[lit::kInnerAngle] = *spec.innerAngle * kRadiansPerDegree;
  }
  p[lit::kFalloff] = int64_t(spec.falloff);
  p[lit::kFalloffRadius] = spec.falloffRadius;
  p[lit::kFalloffInner] = spec.falloffInner;
  p[lit::kShadowType] = int64_t(spec.shadows ? 1 : 0);
  if (spec.enabled) {
    p[lit::kEnabled] = int64_t(*spec.enabled ? 1 : 0);
  }
  light->switchedOff = !spec.switchedOn;
  return light;
}

} // namespace standin
