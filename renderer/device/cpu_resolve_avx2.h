// The resolve passes vectorised with AVX2 and SLEEF's single-precision exp and pow, for
// processors that have AVX2 and FMA. They follow the formulas of resolvePixel and
// resolveVolPixel exactly, with SLEEF's functions (1 ulp) in place of the C library's, and skip
// the transcendentals for unlit pixel pairs, whose result is exactly transparent black.
#pragma once

#include "kernels/launch_args.h"

namespace ek {

// Whether this build and this processor can run resolveRangeAvx2.
bool canResolveAvx2();
// Additive resolve of pixels [begin, end).
void resolveRangeAvx2(const ResolveArgs &args, uint64_t begin, uint64_t end);
// Volumetric resolve: alpha from the total optical depth instead of the brightest colour.
void resolveVolRangeAvx2(const ResolveVolArgs &args, uint64_t begin, uint64_t end);

} // namespace ek
