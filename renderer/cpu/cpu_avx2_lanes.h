// Eight lanes of single-precision floats or 32-bit unsigned integers in one AVX2 register, with the
// operators of the scalar item functions, so that the CPU's vectorised paths are written like the
// functions they must agree with. Every operator is one instruction, applied lane by lane with the
// rounding of its scalar counterpart; nothing is fused or reordered (the files that include this
// header are compiled with -mavx2 -mfma -ffp-contract=off, and only they may include it).
#pragma once

#include <cstdint>
#include <immintrin.h>

#include "kernels/math_constants.h"

namespace ek::avx2 {

// All ones in the lanes where a comparison holds, zero elsewhere.
struct Mask8 {
  __m256 bits;

  friend Mask8 operator&(Mask8 a, Mask8 b) { return {_mm256_and_ps(a.bits, b.bits)}; }
  friend Mask8 operator|(Mask8 a, Mask8 b) { return {_mm256_or_ps(a.bits, b.bits)}; }
  // Lane i's result in bit i.
  uint32_t laneBits() const { return uint32_t(_mm256_movemask_ps(bits)); }
};

struct F32x8 {
  __m256 v;

  F32x8() : v(_mm256_setzero_ps()) {}
  F32x8(__m256 lanes) : v(lanes) {}
  F32x8(float all) : v(_mm256_set1_ps(all)) {} // the same value in every lane

  static F32x8 load(const float *p) { return _mm256_loadu_ps(p); }
  void store(float *p) const { _mm256_storeu_ps(p, v); }

  friend F32x8 operator+(F32x8 a, F32x8 b) { return _mm256_add_ps(a.v, b.v); }
  friend F32x8 operator-(F32x8 a, F32x8 b) { return _mm256_sub_ps(a.v, b.v); }
  friend F32x8 operator*(F32x8 a, F32x8 b) { return _mm256_mul_ps(a.v, b.v); }
  friend F32x8 operator/(F32x8 a, F32x8 b) { return _mm256_div_ps(a.v, b.v); }
  F32x8 &operator+=(F32x8 b) { return *this = *this + b; }

  // Ordered comparisons, false where either side is not-a-number, as in C++.
  friend Mask8 operator<(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
  friend Mask8 operator<=(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ)}; }
  friend Mask8 operator>=(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GE_OQ)}; }
  friend Mask8 operator==(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_EQ_OQ)}; }
  // Unordered, true where either side is not-a-number, as in C++.
  friend Mask8 operator!=(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_NEQ_UQ)}; }
};

// !(a >= b), true where either side is not-a-number.
inline Mask8 notGreaterEqual(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_NGE_UQ)}; }

// !(a <= b), true where either side is not-a-number.
inline Mask8 notLessEqual(F32x8 a, F32x8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_NLE_UQ)}; }

// a where the mask is set, b elsewhere.
inline F32x8 select(Mask8 m, F32x8 a, F32x8 b) { return _mm256_blendv_ps(b.v, a.v, m.bits); }

inline F32x8 sqrt(F32x8 a) { return _mm256_sqrt_ps(a.v); }
inline F32x8 abs(F32x8 a) {
  return _mm256_and_ps(a.v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
}

// The instructions' minimum and maximum: b where either side is not-a-number.
inline F32x8 min(F32x8 a, F32x8 b) { return _mm256_min_ps(a.v, b.v); }
inline F32x8 max(F32x8 a, F32x8 b) { return _mm256_max_ps(a.v, b.v); }

// fmaxf, as the scalar maxNumber: the larger value, or a where b is not-a-number.
inline F32x8 maxNumber(F32x8 a, F32x8 b) { return select(b != b, a, max(a, b)); }
// fminf, as the scalar minNumber: the smaller value, or a where b is not-a-number.
inline F32x8 minNumber(F32x8 a, F32x8 b) { return select(b != b, a, min(a, b)); }

struct U32x8 {
  __m256i v;

  U32x8(__m256i lanes) : v(lanes) {}
  U32x8(uint32_t all) : v(_mm256_set1_epi32(int32_t(all))) {} // the same value in every lane

  static U32x8 load(const uint32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
  }
  void store(uint32_t *p) const { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }

  // Arithmetic modulo 2^32, as on uint32_t.
  friend U32x8 operator+(U32x8 a, U32x8 b) { return _mm256_add_epi32(a.v, b.v); }
  friend U32x8 operator*(U32x8 a, U32x8 b) { return _mm256_mullo_epi32(a.v, b.v); }
  friend U32x8 operator^(U32x8 a, U32x8 b) { return _mm256_xor_si256(a.v, b.v); }
  friend U32x8 operator>>(U32x8 a, int bits) { return _mm256_srli_epi32(a.v, bits); }
  U32x8 &operator^=(U32x8 b) { return *this = *this ^ b; }
  U32x8 &operator*=(U32x8 b) { return *this = *this * b; }
};

// The lanes whose bit is set in `bits`.
inline Mask8 lanesOf(uint32_t bits) {
  const __m256i lane = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i set = _mm256_and_si256(_mm256_set1_epi32(int(bits)), lane);
  return {_mm256_castsi256_ps(_mm256_cmpeq_epi32(set, lane))};
}

// Lanes whose value is finite, as isFinitePoint tests each coordinate.
inline Mask8 finiteLanes(F32x8 v) { return abs(v) <= kLargestFloat; }

// -a, the sign flipped as C++'s negation flips it (zero becomes minus zero).
inline F32x8 negate(F32x8 a) { return _mm256_xor_ps(a.v, _mm256_set1_ps(-0.0f)); }

// One row of an affine transform, in the item functions' order: ((m0 x + m1 y) + m2 z) + m3.
inline F32x8 affineRow(const float *m, F32x8 x, F32x8 y, F32x8 z) {
  return F32x8(m[0]) * x + F32x8(m[1]) * y + F32x8(m[2]) * z + m[3];
}

// float(u) for lanes below 2^31, where the signed conversion is exact.
inline F32x8 toFloat(U32x8 u) { return _mm256_cvtepi32_ps(u.v); }

// int32_t(x) for lanes in range: truncation towards zero.
inline U32x8 truncateToInt(F32x8 x) { return _mm256_cvttps_epi32(x.v); }

} // namespace ek::avx2
