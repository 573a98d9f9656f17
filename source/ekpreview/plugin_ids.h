// The plug-in's own identity and the IDs of its dialog controls.
#pragma once

#include <cstdint>

namespace ek::plugin {

// Command and dialog share one registered ID.
constexpr int32_t kCommandId = 1071346;
constexpr const char *kModuleIdentifier = "com.emberkit.flarion";
// Hosts below this API level lack operations the plug-in relies on.
constexpr int32_t kMinimumHostApiLevel = 2026300;

constexpr int32_t kDialogDefaultWidth = 1100;
constexpr int32_t kDialogDefaultHeight = 700;
constexpr int32_t kTimerIntervalMs = 40;

namespace control {
constexpr int32_t kNone = 0; // labels and groups nobody addresses
constexpr int32_t kPreviewArea = 1000;
constexpr int32_t kLive = 1001;
constexpr int32_t kBrightness = 1002;
constexpr int32_t kExposure = 1003;
constexpr int32_t kRepopulation = 1004;
constexpr int32_t kRadius = 1005;
constexpr int32_t kDepthOfField = 1006;
constexpr int32_t kFocus = 1007;
constexpr int32_t kAperture = 1008;
constexpr int32_t kFromCamera = 1009;
constexpr int32_t kMotionBlur = 1010;
constexpr int32_t kShutter = 1011;
constexpr int32_t kSamples = 1012;
constexpr int32_t kFormat = 1013;
constexpr int32_t kMode = 1014;
constexpr int32_t kDensity = 1015;
constexpr int32_t kEmission = 1016;
constexpr int32_t kAmbient = 1017;
constexpr int32_t kScattering = 1018;
constexpr int32_t kShadows = 1019;
constexpr int32_t kExportImage = 1020;
constexpr int32_t kExportSequence = 1021;
constexpr int32_t kStatus = 1022;
constexpr int32_t kProgressBar = 1024;
constexpr int32_t kProgressText = 1025;
constexpr int32_t kCancelExport = 1026;
} // namespace control

} // namespace ek::plugin
