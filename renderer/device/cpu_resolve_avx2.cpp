#include "device/cpu_resolve_avx2.h"

#include <cmath>
#include <immintrin.h>
#include <sleef.h>

#include "kernels/additive.h"

namespace ek {

namespace {

// fmaxf on each lane: the larger value, or x when y is not-a-number (_mm256_max_ps alone returns
// y when either is).
__m256 maxNumber8(__m256 x, __m256 y) {
  return _mm256_blendv_ps(_mm256_max_ps(x, y), x, _mm256_cmp_ps(y, y, _CMP_UNORD_Q));
}

} // namespace

bool canResolveAvx2() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

void resolveRangeAvx2(const ResolveArgs& args, uint64_t begin, uint64_t end) {
  const __m256 negativeExposure = _mm256_set1_ps(-args.exposure);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 inverseGamma = _mm256_set1_ps(kInvGamma);
  const __m256 byteScale = _mm256_set1_ps(255.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
  // With a finite exposure an unlit pixel resolves to exactly 0 in every channel.
  const bool skipUnlit = std::isfinite(args.exposure);

  uint64_t i = begin;
  for (; i + 2 <= end; i += 2) { // two RGBA pixels per vector
    const __m256 accumulated = _mm256_loadu_ps(&args.accumulator[i].r);
    __m256 value = zero;
    const bool unlit =
        skipUnlit && _mm256_movemask_ps(_mm256_cmp_ps(accumulated, zero, _CMP_NEQ_UQ)) == 0;
    if (!unlit) {
      value = _mm256_sub_ps(one, Sleef_expf8_u10avx2(_mm256_mul_ps(negativeExposure, accumulated)));
      // Alpha raised to the brightest colour, in the order a, r, g, b, then 0.
      __m256 alpha = maxNumber8(_mm256_permute_ps(value, 0xFF), _mm256_permute_ps(value, 0x00));
      alpha = maxNumber8(alpha, _mm256_permute_ps(value, 0x55));
      alpha = maxNumber8(alpha, _mm256_permute_ps(value, 0xAA));
      alpha = maxNumber8(alpha, zero);
      value = _mm256_blend_ps(value, alpha, 0x88);
    }
    if (args.imageFloat)
      _mm256_storeu_ps(&args.imageFloat[i].r, value);
    if (args.image) {
      __m256i bytes = _mm256_setzero_si256();
      if (!unlit) {
        const __m256 encoded = _mm256_add_ps(
            _mm256_mul_ps(Sleef_powf8_u10avx2(value, inverseGamma), byteScale), half);
        // Not-a-number and negatives give 0 (max returns its second operand on NaN), and the
        // value saturates at 255 before truncation.
        bytes = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(encoded, zero), byteScale));
      }
      const __m128i words = _mm_packus_epi32(_mm256_castsi256_si128(bytes),
                                             _mm256_extracti128_si256(bytes, 1));
      const __m128i packed = _mm_or_si128(_mm_packus_epi16(words, words), opaque);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(&args.image[i]), packed);
    }
  }
  for (; i < end; ++i)
    resolvePixel(args.accumulator, args.image, args.imageFloat, int32_t(i), args.exposure);
}

} // namespace ek
