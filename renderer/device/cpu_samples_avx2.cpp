// Eight perspective samples at a time: the sample stream, the shutter time, the camera transform
// and the thin lens, in the same order of operations as samplePosition and projectPerspective.
#include <immintrin.h>
#include <sleef.h>

#include "device/cpu_avx2.h"
#include "kernels/sampling.h"

namespace ek {

namespace {

__m256i constant(uint32_t value) { return _mm256_set1_epi32(int32_t(value)); }

__m256i mix32x8(__m256i h) {
  h = _mm256_xor_si256(h, _mm256_srli_epi32(h, 16));
  h = _mm256_mullo_epi32(h, constant(kMixFirstMultiplier));
  h = _mm256_xor_si256(h, _mm256_srli_epi32(h, 15));
  h = _mm256_mullo_epi32(h, constant(kMixSecondMultiplier));
  return _mm256_xor_si256(h, _mm256_srli_epi32(h, 16));
}

__m256 nextRandomx8(__m256i &state) {
  state = mix32x8(_mm256_add_epi32(state, constant(kStreamStep)));
  // Below 2^24, so the conversion is exact.
  return _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(state, 8)),
                       _mm256_set1_ps(kRandomScale));
}

__m256i load(const uint32_t *values) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(values));
}

// All ones in the lanes whose value is finite, as isFinitePoint tests each coordinate.
__m256 finiteLanes(__m256 v) {
  const __m256 magnitude = _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
  return _mm256_cmp_ps(magnitude, _mm256_set1_ps(kLargestFloat), _CMP_LE_OQ);
}

// One row of the view matrix: ((m0 x + m1 y) + m2 z) + m3.
__m256 row(const float *m, __m256 x, __m256 y, __m256 z) {
  __m256 r =
      _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(m[0]), x), _mm256_mul_ps(_mm256_set1_ps(m[1]), y));
  r = _mm256_add_ps(r, _mm256_mul_ps(_mm256_set1_ps(m[2]), z));
  return _mm256_add_ps(r, _mm256_set1_ps(m[3]));
}

} // namespace

uint32_t placeSamplesAvx2(const EKFrame &f, bool motionBlur, const SampleLanes &lanes,
                          uint32_t count, uint32_t pixel[8]) {
  const __m256i streamMix = mix32x8(_mm256_add_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(load(lanes.copy), constant(kCopyMultiplier)),
                       _mm256_mullo_epi32(load(lanes.sample), constant(kSampleMultiplier))),
      constant(f.seed)));
  __m256i state = mix32x8(_mm256_xor_si256(
      _mm256_xor_si256(load(lanes.particleLow), streamMix),
      mix32x8(_mm256_add_epi32(load(lanes.particleHigh), constant(kHighWordOffset)))));
  __m256 x = _mm256_loadu_ps(lanes.x), y = _mm256_loadu_ps(lanes.y), z = _mm256_loadu_ps(lanes.z);
  if (motionBlur) {
    const __m256 t = _mm256_mul_ps(_mm256_sub_ps(nextRandomx8(state), _mm256_set1_ps(0.5f)),
                                   _mm256_set1_ps(f.shutter));
    x = _mm256_add_ps(x, _mm256_mul_ps(_mm256_loadu_ps(lanes.vx), t));
    y = _mm256_add_ps(y, _mm256_mul_ps(_mm256_loadu_ps(lanes.vy), t));
    z = _mm256_add_ps(z, _mm256_mul_ps(_mm256_loadu_ps(lanes.vz), t));
  }
  const __m256 cx = row(f.view + 0, x, y, z);
  const __m256 cy = row(f.view + 4, x, y, z);
  const __m256 cz = row(f.view + 8, x, y, z);
  const __m256 depth = _mm256_sub_ps(_mm256_setzero_ps(), cz);
  // Culled when nearClip >= depth; a not-a-number depth goes on and fails the image test.
  __m256 keep = _mm256_cmp_ps(_mm256_set1_ps(f.nearClip), depth, _CMP_NGE_UQ);
  keep = _mm256_and_ps(
      keep, _mm256_and_ps(finiteLanes(x), _mm256_and_ps(finiteLanes(y), finiteLanes(z))));
  const __m256 inverseDepth = _mm256_div_ps(_mm256_set1_ps(-1.0f), cz);
  __m256 xn = _mm256_mul_ps(cx, inverseDepth);
  __m256 yn = _mm256_mul_ps(cy, inverseDepth);
  if (f.apertureRadius > 0.0f) {
    const __m256 rho =
        _mm256_mul_ps(_mm256_set1_ps(f.apertureRadius), _mm256_sqrt_ps(nextRandomx8(state)));
    const __m256 theta = _mm256_mul_ps(_mm256_set1_ps(kTwoPi), nextRandomx8(state));
    const __m256 k = _mm256_sub_ps(_mm256_set1_ps(f.invFocusDistance), inverseDepth);
    const Sleef___m256_2 sinCos = Sleef_sincosf8_u10avx2(theta);
    const __m256 kRho = _mm256_mul_ps(k, rho);
    xn = _mm256_add_ps(xn, _mm256_mul_ps(kRho, sinCos.y));
    yn = _mm256_add_ps(yn, _mm256_mul_ps(kRho, sinCos.x));
  }
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 width = _mm256_set1_ps(float(f.width)), height = _mm256_set1_ps(float(f.height));
  const __m256 px = _mm256_mul_ps(
      _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(xn, _mm256_set1_ps(f.scaleX)), half), half), width);
  const __m256 py = _mm256_mul_ps(
      _mm256_sub_ps(
          _mm256_set1_ps(1.0f),
          _mm256_add_ps(_mm256_mul_ps(_mm256_mul_ps(yn, _mm256_set1_ps(f.scaleY)), half), half)),
      height);
  const __m256 zero = _mm256_setzero_ps();
  keep = _mm256_and_ps(keep, _mm256_cmp_ps(px, zero, _CMP_GE_OQ));
  keep = _mm256_and_ps(keep, _mm256_cmp_ps(px, width, _CMP_LT_OQ));
  keep = _mm256_and_ps(keep, _mm256_cmp_ps(py, zero, _CMP_GE_OQ));
  keep = _mm256_and_ps(keep, _mm256_cmp_ps(py, height, _CMP_LT_OQ));
  const uint32_t hits = uint32_t(_mm256_movemask_ps(keep)) & ((1u << count) - 1u);
  // Lanes outside the image are never read, whatever their conversion gave.
  const __m256i index =
      _mm256_add_epi32(_mm256_mullo_epi32(_mm256_cvttps_epi32(py), _mm256_set1_epi32(f.width)),
                       _mm256_cvttps_epi32(px));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(pixel), index);
  return hits;
}

} // namespace ek
