#include "scene/builders.h"

#include "host/host_ids.h"

namespace standin {

namespace {

namespace cam = ek::host::camera;
namespace lit = ek::host::light;

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

void setSpherical(SceneObject &camera, const SphericalRig &s) {
  auto &p = camera.parameters;
  p[cam::kSphericalEnabled] = int64_t(s.enabled ? 1 : 0);
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

std::unique_ptr<SceneObject> makeCamera(const CameraSetup &desc) {
  auto camera = std::make_unique<SceneObject>(ek::host::object::kTypeCamera, desc.name);
  camera->matrix = desc.matrix ? *desc.matrix : lookAt(desc.eye, desc.target, desc.up);
  camera->focalLength = desc.focalLength;
  camera->apertureWidth = desc.apertureWidth;
  camera->parameters[cam::kProjection] = int64_t(desc.projection);
  if (desc.focusDistance) {
    camera->parameters[cam::kFocusDistance] = *desc.focusDistance;
  }
  if (desc.fNumber) {
    camera->parameters[cam::kFNumber] = *desc.fNumber;
  }
  if (desc.spherical) {
    setSpherical(*camera, *desc.spherical);
  }
  return camera;
}

std::unique_ptr<SceneObject> makeLight(const LightSetup &desc) {
  auto light = std::make_unique<SceneObject>(ek::host::object::kTypeLight, desc.name);
  const Vec3 target = desc.target ? *desc.target : desc.position + Vec3{0.0, 0.0, 1.0};
  light->matrix = lookAt(desc.position, target, Vec3{0.0, 1.0, 0.0});
  auto &p = light->parameters;
  p[lit::kType] = int64_t(desc.lightType);
  p[lit::kColor] = desc.color;
  p[lit::kIntensity] = desc.intensity;
  if (desc.outerAngle) {
    p[lit::kOuterAngle] = *desc.outerAngle * kRadiansPerDegree;
  }
  p[lit::kUseInnerAngle] = int64_t(desc.innerAngle ? 1 : 0);
  if (desc.innerAngle) {
    p[lit::kInnerAngle] = *desc.innerAngle * kRadiansPerDegree;
  }
  p[lit::kFalloff] = int64_t(desc.falloff);
  p[lit::kFalloffRadius] = desc.falloffRadius;
  p[lit::kFalloffInner] = desc.falloffInner;
  p[lit::kShadowType] = int64_t(desc.shadows ? 1 : 0);
  if (desc.enabled) {
    p[lit::kEnabled] = *desc.enabled;
  }
  light->switchedOff = !desc.switchedOn;
  return light;
}

} // namespace standin
