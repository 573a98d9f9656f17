// EKFrame: the flat parameter block every splatting kernel receives by value (41 four-byte words),
// built on the host from the caller's camera and settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "emberkit.h"

struct EKFrame {
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
static_assert(sizeof(EKFrame) == 164);
static_assert(offsetof(EKFrame, scaleX) == 48);
static_assert(offsetof(EKFrame, width) == 56);
static_assert(offsetof(EKFrame, colorGain) == 64);
static_assert(offsetof(EKFrame, repopulation) == 72);
static_assert(offsetof(EKFrame, samples) == 80);
static_assert(offsetof(EKFrame, apertureRadius) == 88);
static_assert(offsetof(EKFrame, nearClip) == 96);
static_assert(offsetof(EKFrame, seed) == 100);
static_assert(offsetof(EKFrame, pixelArea) == 104);
static_assert(offsetof(EKFrame, projection) == 108);
static_assert(offsetof(EKFrame, lonMin) == 112);
static_assert(offsetof(EKFrame, latSpan) == 124);
static_assert(offsetof(EKFrame, eyeOffset) == 128);
static_assert(offsetof(EKFrame, stereoPivotOffset) == 136);
static_assert(offsetof(EKFrame, topMergeMode) == 140);
static_assert(offsetof(EKFrame, bottomMergeMode) == 144);
static_assert(offsetof(EKFrame, topMergeAngle) == 148);
static_assert(offsetof(EKFrame, bottomMergeAngle) == 152);
static_assert(offsetof(EKFrame, topMergeExponent) == 156);
static_assert(offsetof(EKFrame, bottomMergeExponent) == 160);
// The southern pole fields sit one word after the northern ones, so a kernel may pick either
// by offset.
static_assert(offsetof(EKFrame, bottomMergeMode) - offsetof(EKFrame, topMergeMode) == 4);
static_assert(offsetof(EKFrame, bottomMergeAngle) - offsetof(EKFrame, topMergeAngle) == 4);
static_assert(offsetof(EKFrame, bottomMergeExponent) - offsetof(EKFrame, topMergeExponent) == 4);
