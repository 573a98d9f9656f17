// Perspective samples eight at a time: the sample stream, the shutter time, the camera transform
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

// What each lane draws from its stream, in the stream's order: the shutter time, then the lens
// position as a radius and the sine and cosine of its angle.
struct Draws {
  float time[SampleLanes::kLanes];
  float radius[SampleLanes::kLanes];
  float sine[SampleLanes::kLanes];
  float cosine[SampleLanes::kLanes];
};

// The draws of lanes [first, first + 8). SLEEF's sine and cosine are a call, across which every
// vector register would have to be saved; made for all lanes before the geometry, they leave the
// geometry's loop free of calls.
void drawLanes(const Frame &f, bool motionBlur, bool lens, const SampleLanes &lanes, uint32_t first,
               Draws &d) {
  // sampleStream from its particle's and its copy and sample's parts.
  U32x8 state =
      mix32(U32x8::load(lanes.particleKey + first) ^ mix32(U32x8::load(lanes.sampleKey + first)));
  if (motionBlur)
    ((nextRandom(state) - 0.5f) * f.shutter).store(d.time + first);
  if (lens) {
    (F32x8(f.apertureRadius) * avx2::sqrt(nextRandom(state))).store(d.radius + first);
    const F32x8 theta = F32x8(kTwoPi) * nextRandom(state);
    const Sleef___m256_2 sinCos = Sleef_sincosf8_u10avx2(theta.v);
    F32x8(sinCos.x).store(d.sine + first);
    F32x8(sinCos.y).store(d.cosine + first);
  }
}

// Places lanes [first, first + 8) with their draws; returns a bit per lane that lands in the
// image, and that lane's pixel index in `pixel`.
uint32_t placeLanes(const Frame &f, bool motionBlur, bool lens, const SampleLanes &lanes,
                    const Draws &d, uint32_t first, uint32_t *pixel) {
  F32x8 x = F32x8::load(lanes.x + first), y = F32x8::load(lanes.y + first),
        z = F32x8::load(lanes.z + first);
  if (motionBlur) {
    const F32x8 t = F32x8::load(d.time + first);
    x += F32x8::load(lanes.vx + first) * t;
    y += F32x8::load(lanes.vy + first) * t;
    z += F32x8::load(lanes.vz + first) * t;
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
  if (lens) {
    const F32x8 k = F32x8(f.invFocusDistance) - inverseDepth;
    const F32x8 kRho = k * F32x8::load(d.radius + first);
    xn += kRho * F32x8::load(d.cosine + first);
    yn += kRho * F32x8::load(d.sine + first);
  }
  const F32x8 width = float(f.width), height = float(f.height);
  const F32x8 px = (xn * f.scaleX * 0.5f + 0.5f) * width;
  const F32x8 py = (F32x8(1.0f) - (yn * f.scaleY * 0.5f + 0.5f)) * height;
  // placeInImage
  keep = keep & (px >= 0.0f) & (px < width) & (py >= 0.0f) & (py < height);
  // Lanes outside the image are never read, whatever their conversion gave.
  (avx2::truncateToInt(py) * uint32_t(f.width) + avx2::truncateToInt(px)).store(pixel + first);
  return keep.laneBits();
}

} // namespace

uint64_t placeSamplesAvx2(const Frame &f, bool motionBlur, const SampleLanes &lanes, uint32_t count,
                          uint32_t pixel[SampleLanes::kLanes]) {
  const bool lens = f.apertureRadius > 0.0f;
  Draws draws;
  for (uint32_t first = 0; first < count; first += 8)
    drawLanes(f, motionBlur, lens, lanes, first, draws);
  uint64_t hits = 0;
  for (uint32_t first = 0; first < count; first += 8)
    hits |= uint64_t(placeLanes(f, motionBlur, lens, lanes, draws, first, pixel)) << first;
  return count == SampleLanes::kLanes ? hits : hits & ((uint64_t(1) << count) - 1);
}

} // namespace ek
