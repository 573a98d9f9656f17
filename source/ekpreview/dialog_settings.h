// The settings record the dialog's controls describe, with every default and range.
#pragma once

#include <cstdint>

#include "ekpreview/plugin_ids.h"

namespace ek::plugin {

// A real-number control: its default and the range the user may enter.
struct RealControl {
  int32_t id;
  double defaultValue, minimum, maximum, step;
};

// An integer control, drop-downs included.
struct IntControl {
  int32_t id;
  int32_t defaultValue, minimum, maximum, step;
};

struct BoolControl {
  int32_t id;
  bool defaultValue;
};

namespace controls {
constexpr int32_t kIntMin = INT32_MIN;
constexpr int32_t kIntMax = INT32_MAX;

constexpr BoolControl kLive{control::kLive, true};
constexpr RealControl kBrightness{control::kBrightness, 1.0, 0.01, 50.0, 0.05};
constexpr RealControl kExposure{control::kExposure, 1.0, 0.01, 50.0, 0.05};
constexpr IntControl kRepopulation{control::kRepopulation, 0, 0, 10000, 1};
constexpr RealControl kRadius{control::kRadius, 2.0, 0.0, 1000000.0, 0.5};
constexpr BoolControl kDepthOfField{control::kDepthOfField, false};
constexpr RealControl kFocus{control::kFocus, 500.0, 0.1, 10000000.0, 10.0};
constexpr RealControl kAperture{control::kAperture, 2.8, 0.1, 128.0, 0.1};
constexpr BoolControl kMotionBlur{control::kMotionBlur, false};
constexpr RealControl kShutter{control::kShutter, 0.5, 0.0, 10.0, 0.05};
constexpr IntControl kSamples{control::kSamples, 4, 1, 256, 1};
constexpr IntControl kMode{control::kMode, 0, kIntMin, kIntMax, 1};
constexpr RealControl kDensity{control::kDensity, 1.0, 0.0, 1000.0, 0.1};
constexpr RealControl kEmission{control::kEmission, 0.0, 0.0, 100.0, 0.05};
constexpr RealControl kAmbient{control::kAmbient, 0.0, 0.0, 10.0, 0.01};
constexpr RealControl kScattering{control::kScattering, 0.0, -0.9, 0.9, 0.05};
constexpr IntControl kShadows{control::kShadows, 1, kIntMin, kIntMax, 1};
constexpr IntControl kFormat{control::kFormat, 0, kIntMin, kIntMax, 1};

constexpr RealControl kReals[] = {kBrightness, kExposure, kRadius,   kFocus,   kAperture,
                                  kShutter,    kDensity,  kEmission, kAmbient, kScattering};
constexpr IntControl kInts[] = {kRepopulation, kSamples, kMode, kShadows, kFormat};
constexpr BoolControl kBools[] = {kLive, kDepthOfField, kMotionBlur};
} // namespace controls

// Values of `mode`, `shadows` and `format`.
constexpr int32_t kModeAdditive = 0;
constexpr int32_t kModeVolumetric = 1;
constexpr int32_t kShadowsLow = 0;
constexpr int32_t kShadowsMedium = 1;
constexpr int32_t kShadowsHigh = 2;
constexpr int32_t kFormatExr = 0;
constexpr int32_t kFormatPng16 = 1;
constexpr int32_t kFormatPng8 = 2;

struct DialogSettings {
  double brightness = controls::kBrightness.defaultValue;
  double exposure = controls::kExposure.defaultValue;
  double radius = controls::kRadius.defaultValue;
  int32_t repopulation = controls::kRepopulation.defaultValue;
  bool depthOfField = controls::kDepthOfField.defaultValue;
  bool motionBlur = controls::kMotionBlur.defaultValue;
  double focus = controls::kFocus.defaultValue;
  double aperture = controls::kAperture.defaultValue; // f-number
  double shutter = controls::kShutter.defaultValue;   // frames
  int32_t samples = controls::kSamples.defaultValue;
  int32_t mode = controls::kMode.defaultValue;
  double density = controls::kDensity.defaultValue;
  double emission = controls::kEmission.defaultValue;
  double ambient = controls::kAmbient.defaultValue;
  double scattering = controls::kScattering.defaultValue;
  int32_t shadows = controls::kShadows.defaultValue;
  bool live = controls::kLive.defaultValue;
  int32_t format = controls::kFormat.defaultValue;
};

} // namespace ek::plugin
