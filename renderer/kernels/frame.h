// Frame: the flat parameter block every splatting kernel receives by value (41 four-byte words),
// built on the host from the caller's camera and settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emberkit.h"

namespace ek {

struct Frame {
  float view[12]; // 3x4 row-major world-to-camera matrix; the camera looks along -z
  float scaleX;
  float scaleY;
  int32_t width;
  int32_t height;
  float colorGain; // brightness / 255 / samples, for the colour bytes
  float gain;      // brightness / samples, for the alpha
  int32_t repopulation;
  float radius;
  int32_t samples;
  float shutter;
  float apertureRadius;
  float invFocusDistance;
  float nearClip;
  uint32_t seed;
  float pixelArea;
  int32_t projection; // EK_PROJECTION_SPHERICAL or EK_PROJECTION_PERSPECTIVE
  float lonMin;       // radians, like every angle below
  float lonSpan;
  float latMax;
  float latSpan;
  float eyeOffset;
  float zeroParallaxDistance;
  float stereoPivotOffset;
  int32_t topMergeMode;
  int32_t bottomMergeMode;
  float topMergeAngle;
  float bottomMergeAngle;
  float topMergeExponent;
  float bottomMergeExponent;
};

} // namespace ek

// One RGBA8 particle colour, red first (the same bytes as CUDA's uchar4).
struct Rgba8 {
  uint8_t r, g, b, a;
};

// Four floats of an image pixel or accumulator cell, 16-byte aligned like CUDA's float4.
struct alignas(16) Rgba32f {
  float r, g, b, a;
};

static_assert(sizeof(EKV3) == 12);
static_assert(sizeof(Rgba8) == 4);
static_assert(sizeof(Rgba32f) == 16);
static_assert(sizeof(ek::Frame) == 164);
static_assert(offsetof(ek::Frame, scaleX) == 48);
static_assert(offsetof(ek::Frame, width) == 56);
static_assert(offsetof(ek::Frame, colorGain) == 64);
static_assert(offsetof(ek::Frame, repopulation) == 72);
static_assert(offsetof(ek::Frame, samples) == 80);
static_assert(offsetof(ek::Frame, apertureRadius) == 88);
static_assert(offsetof(ek::Frame, nearClip) == 96);
static_assert(offsetof(ek::Frame, seed) == 100);
static_assert(offsetof(ek::Frame, pixelArea) == 104);
static_assert(offsetof(ek::Frame, projection) == 108);
static_assert(offsetof(ek::Frame, lonMin) == 112);
static_assert(offsetof(ek::Frame, latSpan) == 124);
static_assert(offsetof(ek::Frame, eyeOffset) == 128);
static_assert(offsetof(ek::Frame, stereoPivotOffset) == 136);
static_assert(offsetof(ek::Frame, topMergeMode) == 140);
static_assert(offsetof(ek::Frame, bottomMergeMode) == 144);
static_assert(offsetof(ek::Frame, topMergeAngle) == 148);
static_assert(offsetof(ek::Frame, bottomMergeAngle) == 152);
static_assert(offsetof(ek::Frame, topMergeExponent) == 156);
static_assert(offsetof(ek::Frame, bottomMergeExponent) == 160);
// The southern pole fields sit one word after the northern ones, so a kernel may pick either
// by offset.
static_assert(offsetof(ek::Frame, bottomMergeMode) - offsetof(ek::Frame, topMergeMode) == 4);
static_assert(offsetof(ek::Frame, bottomMergeAngle) - offsetof(ek::Frame, topMergeAngle) == 4);
static_assert(offsetof(ek::Frame, bottomMergeExponent) - offsetof(ek::Frame, topMergeExponent) ==
              4);
