// The constant block of the volumetric mode: lights, shadow-map projections and volume parameters.
// The host fills a byte-identical image of it once per volumetric render; its layout is the
// interface between host and kernels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emberkit.h"

constexpr int kMaxVolumeLights = 8;
constexpr int kMaxShadowMaps = 48; // eight point lights of six cube faces each

namespace ek {

// A cell of the shadow maps and the camera depth map: a fixed-point sum of deposits (see toCell in
// kernels/volume.h), turned into a float of thickness in place by the prefix pass.
using MapCell = uint32_t;

struct VolLight {
  int32_t type; // EK_LIGHT_..., as in EKLight
  float position[3];
  float direction[3]; // unit vector the light shines along
  float color[3];     // intensity included
  float cosInner;
  float cosOuter;
  int32_t falloff;
  float falloffRadius;
  float falloffInner;
  int32_t firstMap;
  int32_t mapCount; // 0 no shadow, 1 one map, 6 a cube
};

struct ShadowMap {
  float view[12]; // rows right, up, forward, each with -(row . origin)
  int32_t ortho;
  float scaleX;
  float scaleY;
  float nearClip;
  int32_t size;
  int32_t slices;
  int32_t logDepth;
  float depthStart;
  float depthScale;
  float texelArea;
  uint64_t offset; // first float of the map in the shadow-map buffer
};

} // namespace ek

struct alignas(8) VolumeConstants {
  int32_t lightCount;
  ek::VolLight lights[kMaxVolumeLights];
  int32_t shadowMapCount;
  ek::ShadowMap maps[kMaxShadowMaps];
  float camSampleArea;
  float lightSampleArea;
  float emission;
  float ambient[3];
  float anisotropy;
  EKV3 cameraPosition;
  int32_t camSlices;
  float camDepthStart;
  float camDepthScale;
  uint32_t reserved;
};

static_assert(sizeof(ek::VolLight) == 68);
static_assert(offsetof(ek::VolLight, direction) == 16);
static_assert(offsetof(ek::VolLight, cosInner) == 40);
static_assert(offsetof(ek::VolLight, falloff) == 48);
static_assert(offsetof(ek::VolLight, firstMap) == 60);
static_assert(offsetof(ek::VolLight, mapCount) == 64);
static_assert(sizeof(ek::ShadowMap) == 96);
static_assert(offsetof(ek::ShadowMap, ortho) == 48);
static_assert(offsetof(ek::ShadowMap, nearClip) == 60);
static_assert(offsetof(ek::ShadowMap, size) == 64);
static_assert(offsetof(ek::ShadowMap, logDepth) == 72);
static_assert(offsetof(ek::ShadowMap, depthScale) == 80);
static_assert(offsetof(ek::ShadowMap, texelArea) == 84);
static_assert(offsetof(ek::ShadowMap, offset) == 88);
static_assert(sizeof(VolumeConstants) == 5216);
static_assert(offsetof(VolumeConstants, lights) == 4);
static_assert(offsetof(VolumeConstants, shadowMapCount) == 548);
static_assert(offsetof(VolumeConstants, maps) == 552);
static_assert(offsetof(VolumeConstants, camSampleArea) == 5160);
static_assert(offsetof(VolumeConstants, lightSampleArea) == 5164);
static_assert(offsetof(VolumeConstants, emission) == 5168);
static_assert(offsetof(VolumeConstants, ambient) == 5172);
static_assert(offsetof(VolumeConstants, anisotropy) == 5184);
static_assert(offsetof(VolumeConstants, cameraPosition) == 5188);
static_assert(offsetof(VolumeConstants, camSlices) == 5200);
static_assert(offsetof(VolumeConstants, camDepthStart) == 5204);
static_assert(offsetof(VolumeConstants, camDepthScale) == 5208);
