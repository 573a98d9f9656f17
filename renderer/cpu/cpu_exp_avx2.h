// e^x of eight floats, each the very float that the C library's expf gives on this system (GNU
// libc on x86-64 with FMA). It is worked out as that library does: x taken to double precision
// and scaled by 32 / ln 2 into an integer k and a remainder r (the remainder in one fused step),
// 2^(k / 32) read from a table of 32 powers with k / 32's integer part added to the exponent, a
// cubic in r evaluated with fused multiply-adds, and the product rounded to float once. Four
// values go in each 256-bit register of doubles. Lanes with |x| >= 88 or not-a-number, where the
// library takes other paths, are handed to expf itself. The tests compare it with expf; the
// device hands out the paths that use it only where a check on this process's expf agrees.
// Only files compiled with -mavx2 -mfma -ffp-contract=off may include this.
#pragma once

#include <cmath>
#include <immintrin.h>

#include "cpu/cpu_avx2_lanes.h"

namespace ek::avx2 {

namespace exp_detail {

// 2^(i / 32) for i = 0 .. 31, each less i << 47 (the i / 32 that the exponent field gets back
// from k): the doubles nearest the powers, to the bit.
alignas(32) inline const long long kPowers[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51,
    0x3fef72b83c7d517b, 0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1,
    0x3fef06fe0a31b715, 0x3feef1a7373aa9cb, 0x3feedea64c123422, 0x3feece086061892d,
    0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429, 0x3feea47eb03a5585,
    0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d,
    0x3feee89f995ad3ad, 0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069,
    0x3fef5818dcfba487, 0x3fef7c97337b9b5f, 0x3fefa4afa2a490da, 0x3fefd0765b6e4540};
constexpr double kScale = 0x1.71547652b82fep+0 * 32; // 32 / ln 2
constexpr double kRound = 0x1.8p+52;                 // adding it rounds to an integer
// 2^(r / 32) - 1 ~ r (c2 + r (c1 + r c0)) for |r| <= 1/2.
constexpr double kC0 = 0x1.c6af84b912394p-5 / 32 / 32 / 32;
constexpr double kC1 = 0x1.ebfce50fac4f3p-3 / 32 / 32;
constexpr double kC2 = 0x1.62e42ff0c52d6p-1 / 32;

inline __m128 exp4(__m128 x) {
  const __m256d xd = _mm256_cvtps_pd(x);
  const __m256d round = _mm256_set1_pd(kRound), scale = _mm256_set1_pd(kScale);
  __m256d kd = _mm256_add_pd(_mm256_mul_pd(scale, xd), round);
  const __m256i ki = _mm256_castpd_si256(kd);
  kd = _mm256_sub_pd(kd, round);
  const __m256d r = _mm256_fmsub_pd(scale, xd, kd);
  const __m256i index = _mm256_and_si256(ki, _mm256_set1_epi64x(31));
  const __m256i power =
      _mm256_add_epi64(_mm256_i64gather_epi64(kPowers, index, 8), _mm256_slli_epi64(ki, 47));
  const __m256d z = _mm256_fmadd_pd(_mm256_set1_pd(kC0), r, _mm256_set1_pd(kC1));
  const __m256d r2 = _mm256_mul_pd(r, r);
  __m256d y = _mm256_fmadd_pd(_mm256_set1_pd(kC2), r, _mm256_set1_pd(1.0));
  y = _mm256_fmadd_pd(z, r2, y);
  return _mm256_cvtpd_ps(_mm256_mul_pd(y, _mm256_castsi256_pd(power)));
}

} // namespace exp_detail

inline F32x8 exponential(F32x8 x) {
  __m256 e = _mm256_set_m128(exp_detail::exp4(_mm256_extractf128_ps(x.v, 1)),
                             exp_detail::exp4(_mm256_castps256_ps128(x.v)));
  // |x| >= 88 (the bits at or above 88's) or not-a-number: expf's own paths.
  const __m256i magnitude =
      _mm256_and_si256(_mm256_castps_si256(x.v), _mm256_set1_epi32(0x7fffffff));
  const __m256i large = _mm256_cmpgt_epi32(magnitude, _mm256_set1_epi32(0x42afffff));
  if (uint32_t lanes = uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(large)))) {
    alignas(32) float in[8], out[8];
    x.store(in);
    _mm256_store_ps(out, e);
    for (; lanes != 0; lanes &= lanes - 1) {
      const int lane = __builtin_ctz(lanes);
      out[lane] = expf(in[lane]);
    }
    e = _mm256_load_ps(out);
  }
  return e;
}

} // namespace ek::avx2
