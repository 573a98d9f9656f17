// The view a render looks through: the host camera's projection settings, the renderer's camera
// record, the stereo tiles of an image and the projection's description.
#pragma once

#include <cstdint>
#include <string>

#include "ekpreview/dialog_settings.h"
#include "ekpreview/language.h"
#include "emberkit.h"
#include "host/object.h"

namespace ek::plugin {

// A camera's spherical (latitude-longitude) and stereo settings. Angles in degrees.
struct SphericalCamera {
  bool spherical = false;
  bool stereo = false;
  bool toeIn = false;
  bool cubic = false;       // cube mapping asked for; rendered as latitude-longitude all the same
  int32_t stereoLayout = 0; // host::camera layout values; any other is above/under
  double lonMin = -180.0, lonMax = 180.0;
  double latMin = -90.0, latMax = 90.0;
  double eyeSeparation = 6.5;
  double zeroParallaxDistance = 0.0;
  double stereoPivotOffset = 0.0;
  int32_t topMergeMode = 0, bottomMergeMode = 0;
  double topMergeAngle = 0.0, bottomMergeAngle = 0.0;
  double topMergeExponent = 1.0, bottomMergeExponent = 1.0;
};

// The settings of a host camera; the defaults for any other object or a camera that is not
// spherical.
SphericalCamera readSphericalCamera(const host::Object &camera);

// Eye of a stereo tile; a single view is eye 0.
constexpr int32_t kLeftEye = -1;
constexpr int32_t kSingleView = 0;
constexpr int32_t kRightEye = 1;

// The renderer's camera for an image of width x height seen through the object, with the
// dialog's depth of field and, for spherical stereo, the given eye.
EKCamera buildCamera(const host::Object &camera, int32_t width, int32_t height,
                     const DialogSettings &settings, const SphericalCamera &spherical,
                     int32_t eyeSign);

// One rectangle of an image rendered for one eye.
struct StereoTile {
  int32_t eye = kSingleView;
  int32_t x = 0, y = 0, width = 0, height = 0;
};

struct StereoTiles {
  StereoTile tiles[2];
  int32_t count = 0;
};

// How an image of width x height splits into eyes: two tiles side by side or above/under (left
// eye first), one eye alone, or one single-view tile without spherical stereo.
StereoTiles stereoTiles(const SphericalCamera &spherical, int32_t width, int32_t height);

// " | Spherical mono", " | Spherical stereo (toe-in, side by side)", ...; only for spherical
// cameras.
std::string describeProjection(const SphericalCamera &spherical, Language language);

} // namespace ek::plugin
