// The CPU backend's AVX2 paths, for x86-64 processors with AVX2 and FMA. They follow the formulas
// of the shared item functions exactly, with SLEEF's single-precision functions (1 to 3.5 ulp) in
// place of the C library's, and are tested against them.
#pragma once

#include "kernels/launch_args.h"

namespace ek {

// Whether this build and this processor can run the functions below.
bool canUseAvx2();

// Resolves of pixels [begin, end), additive and volumetric. Unlit pixel pairs, whose result is
// exactly transparent black, skip the transcendentals.
void resolveRangeAvx2(const ResolveArgs &args, uint64_t begin, uint64_t end);
void resolveVolRangeAvx2(const ResolveVolArgs &args, uint64_t begin, uint64_t end);

// Up to eight perspective samples that draw from their random stream (motion blur or lens), laid
// out one lane each: the particle's index halves, copy and sample, its position after the copy's
// offset, and its velocity when motion blur applies.
struct SampleLanes {
  uint32_t particleLow[8], particleHigh[8], copy[8], sample[8];
  float x[8], y[8], z[8];
  float vx[8], vy[8], vz[8];
};

// Places the first `count` lanes as samplePosition and projectPerspective would; returns a bit
// per lane that lands in the image and that lane's pixel index in `pixel`.
uint32_t placeSamplesAvx2(const EKFrame &frame, bool motionBlur, const SampleLanes &lanes,
                          uint32_t count, uint32_t pixel[8]);

} // namespace ek
