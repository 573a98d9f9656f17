// Building cameras and lights from plain descriptions, for scene files and tests alike.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "scene/particles.h"
#include "scene/scene_object.h"

namespace standin {

// Spherical (latitude-longitude) projection settings of a camera. Angles in degrees.
struct SphericalRig {
  bool enabled = true; // settings may be present while the projection is switched off
  bool fullRange = true;
  double longitudeMin = -180.0, longitudeMax = 180.0;
  double latitudeMin = -90.0, latitudeMax = 90.0;
  int32_t stereoMode = 0;   // host::camera::kStereoParallel, kStereoToeIn, or 0 for mono
  int32_t stereoLayout = 0; // host::camera layout values; others mean above/under
  double eyeSeparation = 6.5;
  double zeroParallaxDistance = 0.0;
  double pivotOffset = 0.0;
  int32_t topMergeMode = 0, bottomMergeMode = 0;
  double topMergeAngle = 0.0, bottomMergeAngle = 0.0;
  double topMergeExponent = 1.0, bottomMergeExponent = 1.0;
  bool cubic = false;
};

struct CameraSetup {
  std::string name = "Camera";
  Vec3 eye{0.0, 0.0, -500.0};
  Vec3 target;
  Vec3 up{0.0, 1.0, 0.0};
  std::optional<Matrix> matrix; // used instead of eye, target and up when given
  double focalLength = 36.0;    // millimetres
  double apertureWidth = 36.0;  // millimetres
  int32_t projection = 0;       // host::camera::kProjection value; 0 is perspective
  std::optional<double> focusDistance;
  std::optional<double> fNumber;
  std::optional<SphericalRig> spherical;
};

struct LightSetup {
  std::string name = "Light";
  int32_t lightType = 0; // host::light type values
  Vec3 position;
  std::optional<Vec3> target; // the light points along +z without one
  Vec3 color{1.0, 1.0, 1.0};
  double intensity = 1.0;
  std::optional<double> outerAngle; // degrees
  std::optional<double> innerAngle; // degrees; sets the inner-angle switch when given
  int32_t falloff = 0;              // host::light falloff values
  double falloffRadius = 0.0;
  double falloffInner = 0.0;
  bool shadows = false;
  // The enable parameter: an integer 1 or 0 as the host stores it, or a real as a scene may carry
  // one; absent when the light has no such parameter.
  std::optional<ParameterValue> enabled = ParameterValue(int64_t(1));
  bool switchedOn = true;
};

std::unique_ptr<SceneObject> makeCamera(const CameraSetup &desc);
std::unique_ptr<SceneObject> makeLight(const LightSetup &desc);

} // namespace standin
