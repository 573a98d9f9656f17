// The CPU backend's AVX2 paths, for x86-64 processors with AVX2 and FMA; they exist only in builds
// with SLEEF and GCC-style target flags, and only cpu_vector_paths.cpp hands them out. They follow
// the formulas of the shared item functions exactly and are tested against them. The resolves use
// SLEEF's single-precision functions (1 to 3.5 ulp) in place of the C library's; the samples'
// lens angle gets the C library's own sine and cosine, worked out alike, so samples are placed to
// the bit as the item function places them.
#pragma once

#include "cpu/cpu_vector_paths.h"

namespace ek {

// Resolves of pixels [begin, end), additive and volumetric. Unlit pixel pairs, whose result is
// exactly transparent black, skip the transcendentals.
void resolveRangeAvx2(const ResolveArgs &args, uint64_t begin, uint64_t end);
void resolveVolRangeAvx2(const ResolveVolArgs &args, uint64_t begin, uint64_t end);

// The resolve's 8-bit gamma encoding of `count` values, by its table or with SLEEF's functions
// directly (the table serves values that are neither not-a-number nor -infinity, and only when
// gammaTableUsable()).
void gammaBytesAvx2(const float *values, uint8_t *bytes, uint64_t count, bool byTable);
bool gammaTableUsable();

// The sine and cosine of `count` angles in [0, 2 pi), a multiple of eight, as sinf and cosf give
// them; the lanes' sine and cosine of the lens angle, for checks against the C library.
void sineCosineAvx2(const float *angles, float *sine, float *cosine, uint64_t count);

// Places the first `count` lanes as samplePosition and projectPerspective would; returns a bit
// per lane that lands in the image and that lane's pixel index in `pixel`.
uint64_t placeSamplesAvx2(const Frame &frame, bool motionBlur, const SampleLanes &lanes,
                          uint32_t count, uint32_t pixel[SampleLanes::kLanes]);

// Places light samples in the maps of every light as lightSampleHit, mapSlices and
// lightSampleThickness would (VectorPaths::placeLightSamples).
void placeLightSamplesAvx2(const VolumeConstants &vol, const EKV3 *positions, uint32_t count,
                           LightLanes &out);

// Places camera samples of copies as cameraSampleOfCopy would, for a perspective camera without a
// lens (VectorPaths::placeCameraSamples).
void placeCameraSamplesAvx2(const Frame &frame, const VolumeConstants &vol, const EKV3 *positions,
                            uint32_t count, CameraLanes &out);

// expf of `count` values, a multiple of eight, as the shading's lanes work it out, for checks
// against the C library.
void exponentialAvx2(const float *values, float *results, uint64_t count);

// Shades samples from what the camera and light passes kept of them, as shadeCameraSample would
// (VectorPaths::shadeSamples).
void shadeSamplesAvx2(const VolumeConstants &vol, const ShadeInputs &in, uint32_t count,
                      ShadedLanes &out);

} // namespace ek
