// The host's published numbers: messages, libraries, controls, parameters, object types and flags.
// Both the plug-in and any host implementation take them from here, never as bare literals.
#pragma once

#include <cstdint>

namespace ek::host {

// Four-character codes, first character in the highest byte.
constexpr uint32_t fourCc(const char (&code)[5]) {
  return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
         (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

namespace message {
// Sent to every module once the host has started all of them.
constexpr int32_t kStartActivity = 1000;
} // namespace message

namespace library {
// The particle system's library; its master system is a scene hook of the same ID and type.
constexpr int32_t kThinkingParticles = 1001428;
constexpr int32_t kThinkingParticlesMinimumVersion = 0;
} // namespace library

namespace gui {
constexpr int32_t kProgressBar = 200000265; // custom control type of the host's progress bar
constexpr uint32_t kProgressMessage = fourCc("stat");
constexpr int32_t kProgressKeyBarOn = 1;
constexpr int32_t kProgressKeyFraction = 3;
constexpr uint32_t kRealFormat = fourCc("frea"); // plain real-number format of edit fields
} // namespace gui

namespace layout {
constexpr int32_t kAlignLeft = 1;
constexpr int32_t kAlignRight = 2;
constexpr int32_t kFitHorizontal = 7; // stretch to the width the group offers
constexpr int32_t kFitVertical = 56;  // stretch to the height the group offers
constexpr int32_t kFit = kFitHorizontal | kFitVertical;
} // namespace layout

namespace document {
constexpr int32_t kTime = 1000;
constexpr int32_t kFps = 1001;
constexpr int32_t kMinTime = 1002;
constexpr int32_t kMaxTime = 1003;
constexpr int32_t kPreviewMinTime = 1004;
constexpr int32_t kPreviewMaxTime = 1005;
constexpr int32_t kFileName = 1013;
constexpr uint32_t kDirtyFlagsScene = 19; // data, matrix and children changes
constexpr uint32_t kCloneFlagsDocument = 1024;
constexpr uint32_t kNoBuildFlags = 0;
} // namespace document

namespace render_data {
constexpr int32_t kWidth = 5008;
constexpr int32_t kHeight = 5009;
constexpr int32_t kFrameSequence = 5016;
constexpr int32_t kFrameFrom = 5017;
constexpr int32_t kFrameTo = 5018;
constexpr int32_t kFrameStep = 5081;
// Values of kFrameSequence; every other value is a manual range.
constexpr int32_t kSequenceCurrentFrame = 1;
constexpr int32_t kSequenceAllFrames = 2;
constexpr int32_t kSequencePreviewRange = 3;
} // namespace render_data

namespace object {
constexpr int32_t kTypeLight = 5102;
constexpr int32_t kTypeCamera = 5103;
constexpr uint32_t kCloneFlagsObject = 0;
constexpr int32_t kModeSelectorOnOff = 5; // mode query: the object's editor/render switch
constexpr int32_t kModeOff = 1;
} // namespace object

namespace camera {
constexpr int32_t kProjection = 1001;
constexpr int32_t kProjectionSpherical = 14; // value of kProjection
constexpr int32_t kCubicMapping = 1004;
constexpr int32_t kStereoLayout = 1005;
constexpr int32_t kFocusDistance = 1010;
constexpr int32_t kSphericalEnabled = 1160;
constexpr int32_t kFullRange = 1161;
constexpr int32_t kLongitudeMin = 1170; // radians
constexpr int32_t kLongitudeMax = 1171;
constexpr int32_t kLatitudeMin = 1172;
constexpr int32_t kLatitudeMax = 1173;
constexpr int32_t kEyeSeparation = 1181;
constexpr int32_t kStereoPivotOffset = 1182;
constexpr int32_t kStereoMode = 1190; // 0 off, 1 parallel, 2 toe-in
constexpr int32_t kZeroParallaxDistance = 1191;
constexpr int32_t kTopMergeMode = 1192;
constexpr int32_t kBottomMergeMode = 1193;
constexpr int32_t kTopMergeAngle = 1194; // radians
constexpr int32_t kBottomMergeAngle = 1195;
constexpr int32_t kTopMergeExponent = 1196;
constexpr int32_t kBottomMergeExponent = 1197;
constexpr int32_t kFNumber = 1201;
constexpr int32_t kStereoParallel = 1; // values of kStereoMode
constexpr int32_t kStereoToeIn = 2;
constexpr int32_t kLayoutSideBySide = 1; // values of kStereoLayout; others are above/under
constexpr int32_t kLayoutLeftOnly = 2;
constexpr int32_t kLayoutRightOnly = 3;
} // namespace camera

namespace light {
constexpr int32_t kEnabled = 906;
constexpr int32_t kColor = 90000;
constexpr int32_t kIntensity = 90001;
constexpr int32_t kType = 90002;
constexpr int32_t kShadowType = 90003; // non-zero: casts shadows
constexpr int32_t kInnerAngle = 90010; // radians
constexpr int32_t kOuterAngle = 90011; // radians
constexpr int32_t kFalloff = 90014;
constexpr int32_t kUseInnerAngle = 90018;
constexpr int32_t kFalloffInner = 90024;
constexpr int32_t kFalloffRadius = 90025;
// Values of kType.
constexpr int32_t kTypeOmni = 0;
constexpr int32_t kTypeSpot = 1;
constexpr int32_t kTypeSquareSpot = 2;
constexpr int32_t kTypeInfinite = 3;
constexpr int32_t kTypeParallel = 4;
constexpr int32_t kTypeParallelSpot = 5;
constexpr int32_t kTypeSquareParallelSpot = 6;
constexpr int32_t kTypeTube = 7;
constexpr int32_t kTypeArea = 8;
// Values of kFalloff; 0 and every other value mean no falloff.
constexpr int32_t kFalloffNone = 0;
constexpr int32_t kFalloffStep = 5;
constexpr int32_t kFalloffInverseClamped = 6;
constexpr int32_t kFalloffInverseSquareClamped = 7;
constexpr int32_t kFalloffLinear = 8;
constexpr int32_t kFalloffInverse = 9;
constexpr int32_t kFalloffInverseSquare = 10;
} // namespace light

namespace state {
constexpr int32_t kBusyViewDrawing = 1;
constexpr int32_t kBusyEditorRendering = 2;
} // namespace state

namespace message_box {
constexpr int32_t kOkExclamation = 48;
} // namespace message_box

} // namespace ek::host
