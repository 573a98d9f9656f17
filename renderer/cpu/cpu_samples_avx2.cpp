// Eight perspective samples at a time: the sample stream, the shutter time, the camera transform
// and the thin lens, written as samplePosition and projectPerspective are, lane by lane.
#include <sleef.h>

#include "cpu/cpu_avx2.h"
#include "cpu/cpu_avx2_lanes.h"
#include "kernels/sampling.h"

namespace ek {

namespace {

using avx2::F32x8;
using avx2::Mask8;
using avx2::U32x8;

U32x8 mix32(U32x8 h) { return mixBits(h); }

F32x8 nextRandom(U32x8 &state) {
  state = mix32(state + kStreamStep);
  return avx2::toFloat(state >> 8) * kRandomScale; // below 2^24, so the conversion is exact
}

// Lanes whose value is finite, as isFinitePoint tests each coordinate.
Mask8 finiteLanes(F32x8 v) { return avx2::abs(v) <= kLargestFloat; }

// One row of the view matrix, in toCamera's order: ((m0 x + m1 y) + m2 z) + m3.
F32x8 viewRow(const float *m, F32x8 x, F32x8 y, F32x8 z) {
  return F32x8(m[0]) * x + F32x8(m[1]) * y + F32x8(m[2]) * z + m[3];
}

} // namespace

uint32_t placeSamplesAvx2(const EKFrame &f, bool motionBlur, const SampleLanes &lanes,
                          uint32_t count, uint32_t pixel[8]) {
  // sampleStream, for the eight particles' lower and upper halves.
  const U32x8 low = U32x8::load(lanes.particleLow), high = U32x8::load(lanes.particleHigh);
  const U32x8 copy = U32x8::load(lanes.copy), sample = U32x8::load(lanes.sample);
  U32x8 state = mix32(low ^ mix32(copy * kCopyMultiplier + sample * kSampleMultiplier + f.seed) ^
                      mix32(high + kHighWordOffset));

  F32x8 x = F32x8::load(lanes.x), y = F32x8::load(lanes.y), z = F32x8::load(lanes.z);
  if (motionBlur) {
    const F32x8 t = (nextRandom(state) - 0.5f) * f.shutter;
    x += F32x8::load(lanes.vx) * t;
    y += F32x8::load(lanes.vy) * t;
    z += F32x8::load(lanes.vz) * t;
  }
  const F32x8 cx = viewRow(f.view + 0, x, y, z);
  const F32x8 cy = viewRow(f.view + 4, x, y, z);
  const F32x8 cz = viewRow(f.view + 8, x, y, z);
  const F32x8 depth = F32x8(0.0f) - cz;
  // Culled when nearClip >= depth; a not-a-number depth goes on and fails the image test.
  Mask8 keep = avx2::notGreaterEqual(f.nearClip, depth);
  keep = keep & (finiteLanes(x) & (finiteLanes(y) & finiteLanes(z)));
  const F32x8 inverseDepth = F32x8(-1.0f) / cz;
  F32x8 xn = cx * inverseDepth;
  F32x8 yn = cy * inverseDepth;
  if (f.apertureRadius > 0.0f) {
    const F32x8 rho = F32x8(f.apertureRadius) * avx2::sqrt(nextRandom(state));
    const F32x8 theta = F32x8(kTwoPi) * nextRandom(state);
    const F32x8 k = F32x8(f.invFocusDistance) - inverseDepth;
    const Sleef___m256_2 sinCos = Sleef_sincosf8_u10avx2(theta.v);
    const F32x8 kRho = k * rho;
    xn += kRho * F32x8(sinCos.y);
    yn += kRho * F32x8(sinCos.x);
  }
  const F32x8 width = float(f.width), height = float(f.height);
  const F32x8 px = (xn * f.scaleX * 0.5f + 0.5f) * width;
  const F32x8 py = (F32x8(1.0f) - (yn * f.scaleY * 0.5f + 0.5f)) * height;
  // placeInImage
  keep = keep & (px >= 0.0f) & (px < width) & (py >= 0.0f) & (py < height);
  const uint32_t hits = keep.laneBits() & ((1u << count) - 1u);
  // Lanes outside the image are never read, whatever their conversion gave.
  (avx2::truncateToInt(py) * uint32_t(f.width) + avx2::truncateToInt(px)).store(pixel);
  return hits;
}

} // namespace ek
