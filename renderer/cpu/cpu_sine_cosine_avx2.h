// The sine and cosine of eight angles in [0, 2 pi), each the very float that the C library's sinf
// and cosf give on this system (GNU libc on x86-64 with FMA). They are worked out as that library
// does: the angle taken to double precision, reduced by the nearest multiple of pi / 2 in one
// fused step, both polynomials evaluated in double precision with fused multiply-adds in the same
// order, the quadrant's signs and swap applied, and each result rounded to float once. Four angles
// go in each 256-bit register of doubles. The tests compare them with sinf and cosf on every angle
// the lens can draw. Only files compiled with -mavx2 -mfma -ffp-contract=off may include this.
#pragma once

#include <immintrin.h>

#include "cpu/cpu_avx2_lanes.h"

namespace ek::avx2 {

namespace sine_cosine_detail {

// 2 / pi scaled by 2^24, so that truncating the product keeps 24 bits below the quadrant's, and
// pi / 2 in double precision.
constexpr double kQuadrantsScaled = 0x1.45F306DC9C883p+23;
constexpr double kHalfPiDouble = 0x1.921FB54442D18p0;
// sin r = r + r^3 (s1 + r^2 s2 + r^4 s3), cos r = 1 + r^2 c1 + r^4 (c2 + r^2 c3 + r^4 c4), each
// within a fraction of a float ulp on [-pi / 4, pi / 4].
constexpr double kSin1 = -0x1.555545995a603p-3;
constexpr double kSin2 = 0x1.1107605230bc4p-7;
constexpr double kSin3 = -0x1.994eb3774cf24p-13;
constexpr double kCos1 = -0x1.ffffffd0c621cp-2;
constexpr double kCos2 = 0x1.55553e1068f19p-5;
constexpr double kCos3 = -0x1.6c087e89a359dp-10;
constexpr double kCos4 = 0x1.99343027bf8c3p-16;

inline __m256d splat(double v) { return _mm256_set1_pd(v); }

// The sine and cosine of the reduced angle r of four angles, each rounded to float once, and the
// angles' quadrants n (angle = r + n pi / 2).
struct Reduced4 {
  __m128 sine, cosine;
  __m128i quadrant;
};

inline Reduced4 reducedSineCosine4(__m128 angle) {
  const __m256d x = _mm256_cvtps_pd(angle);
  // The nearest quadrant n, rounding half up, from the truncated scaled product.
  const __m128i scaled = _mm256_cvttpd_epi32(_mm256_mul_pd(x, splat(kQuadrantsScaled)));
  const __m128i n = _mm_srai_epi32(_mm_add_epi32(scaled, _mm_set1_epi32(0x800000)), 24);
  const __m256d r = _mm256_fnmadd_pd(_mm256_cvtepi32_pd(n), splat(kHalfPiDouble), x);

  const __m256d r2 = _mm256_mul_pd(r, r);
  const __m256d r3 = _mm256_mul_pd(r2, r);
  const __m256d r4 = _mm256_mul_pd(r2, r2);
  const __m256d r5 = _mm256_mul_pd(r3, r2);
  const __m256d r6 = _mm256_mul_pd(r4, r2);
  const __m256d sinTail = _mm256_fmadd_pd(r2, splat(kSin3), splat(kSin2));
  const __m256d sinHead = _mm256_fmadd_pd(r3, splat(kSin1), r);
  const __m256d sinR = _mm256_fmadd_pd(r5, sinTail, sinHead);
  const __m256d cosTail = _mm256_fmadd_pd(r2, splat(kCos4), splat(kCos3));
  const __m256d cosHead =
      _mm256_fmadd_pd(r4, splat(kCos2), _mm256_fmadd_pd(r2, splat(kCos1), splat(1.0)));
  const __m256d cosR = _mm256_fmadd_pd(r6, cosTail, cosHead);
  return {_mm256_cvtpd_ps(sinR), _mm256_cvtpd_ps(cosR), n};
}

} // namespace sine_cosine_detail

// sinf(angle) and cosf(angle) lane by lane, for angles in [0, 2 pi).
inline void sineCosine(F32x8 angle, F32x8 &sine, F32x8 &cosine) {
  using sine_cosine_detail::reducedSineCosine4;
  const sine_cosine_detail::Reduced4 low = reducedSineCosine4(_mm256_castps256_ps128(angle.v));
  const sine_cosine_detail::Reduced4 high = reducedSineCosine4(_mm256_extractf128_ps(angle.v, 1));
  const __m256 sinR = _mm256_set_m128(high.sine, low.sine);
  const __m256 cosR = _mm256_set_m128(high.cosine, low.cosine);
  const __m256i n = _mm256_set_m128i(high.quadrant, low.quadrant);
  // In quadrant n, sin angle = (-1)^(n/2) times sin r (n even) or cos r (n odd), and cos angle =
  // (-1)^(n/2) times cos r (n even) or -(-1)^(n/2) sin r (n odd). Negation is exact, so it goes
  // on the rounded values as a sign bit: bit 1 of n flips both, bit 0 flips sin r once more.
  const __m256i odd = _mm256_slli_epi32(n, 31);
  const __m256i half = _mm256_slli_epi32(_mm256_srli_epi32(n, 1), 31);
  const __m256 sinSigned = _mm256_xor_ps(sinR, _mm256_castsi256_ps(_mm256_xor_si256(odd, half)));
  const __m256 cosSigned = _mm256_xor_ps(cosR, _mm256_castsi256_ps(half));
  const __m256 swap = _mm256_castsi256_ps(odd); // blendv reads the sign bit only
  sine = _mm256_blendv_ps(sinSigned, cosSigned, swap);
  cosine = _mm256_blendv_ps(cosSigned, sinSigned, swap);
}

} // namespace ek::avx2
