// The records cross between applications and the library as raw memory; their layouts are fixed.
#include <cstddef>

#include "emberkit.h"

static_assert(sizeof(EKV3) == 12);

static_assert(sizeof(EKCamera) == 104);
static_assert(offsetof(EKCamera, target) == 12);
static_assert(offsetof(EKCamera, up) == 24);
static_assert(offsetof(EKCamera, fovY) == 36);
static_assert(offsetof(EKCamera, focusDistance) == 40);
static_assert(offsetof(EKCamera, aperture) == 44);
static_assert(offsetof(EKCamera, projection) == 48);
static_assert(offsetof(EKCamera, lonMin) == 52);
static_assert(offsetof(EKCamera, latMax) == 64);
static_assert(offsetof(EKCamera, eyeOffset) == 68);
static_assert(offsetof(EKCamera, zeroParallaxDistance) == 72);
static_assert(offsetof(EKCamera, stereoPivotOffset) == 76);
static_assert(offsetof(EKCamera, topMergeMode) == 80);
static_assert(offsetof(EKCamera, bottomMergeMode) == 84);
static_assert(offsetof(EKCamera, topMergeAngle) == 88);
static_assert(offsetof(EKCamera, bottomMergeAngle) == 92);
static_assert(offsetof(EKCamera, topMergeExponent) == 96);
static_assert(offsetof(EKCamera, bottomMergeExponent) == 100);

static_assert(sizeof(EKRenderSettings) == 76);
static_assert(offsetof(EKRenderSettings, brightness) == 8);
static_assert(offsetof(EKRenderSettings, exposure) == 12);
static_assert(offsetof(EKRenderSettings, repopulation) == 16);
static_assert(offsetof(EKRenderSettings, radius) == 20);
static_assert(offsetof(EKRenderSettings, samples) == 24);
static_assert(offsetof(EKRenderSettings, shutter) == 28);
static_assert(offsetof(EKRenderSettings, seed) == 32);
static_assert(offsetof(EKRenderSettings, mode) == 36);
static_assert(offsetof(EKRenderSettings, density) == 40);
static_assert(offsetof(EKRenderSettings, emission) == 44);
static_assert(offsetof(EKRenderSettings, ambient) == 48);
static_assert(offsetof(EKRenderSettings, scattering) == 60);
static_assert(offsetof(EKRenderSettings, shadowMapSize) == 64);
static_assert(offsetof(EKRenderSettings, shadowSlices) == 68);
static_assert(offsetof(EKRenderSettings, cameraSlices) == 72);

static_assert(sizeof(EKLight) == 64);
static_assert(offsetof(EKLight, position) == 4);
static_assert(offsetof(EKLight, direction) == 16);
static_assert(offsetof(EKLight, color) == 28);
static_assert(offsetof(EKLight, outerAngle) == 40);
static_assert(offsetof(EKLight, innerAngle) == 44);
static_assert(offsetof(EKLight, falloff) == 48);
static_assert(offsetof(EKLight, falloffRadius) == 52);
static_assert(offsetof(EKLight, falloffInner) == 56);
static_assert(offsetof(EKLight, castsShadows) == 60);
