#include "device/cpu_avx2.h"

#include <cmath>
#include <immintrin.h>
#include <limits>
#include <sleef.h>

#include "kernels/volume.h"

namespace ek {

namespace {

// fmaxf on each lane: the larger value, or x when y is not-a-number (_mm256_max_ps alone returns
// y when either is).
__m256 maxNumber8(__m256 x, __m256 y) {
  return _mm256_blendv_ps(_mm256_max_ps(x, y), x, _mm256_cmp_ps(y, y, _CMP_UNORD_Q));
}

// v^(1/2.2) for the 8-bit image, as 2^(log2(v) / 2.2) with SLEEF's 3.5-ulp functions: twice as
// fast as its power function and far more accurate than the 1/255 steps it feeds. Like the power,
// v = 0 gives 0, negatives and not-a-number give not-a-number, and -infinity gives +infinity.
__m256 gammaEncode(__m256 v) {
  const __m256 encoded =
      Sleef_exp2f8_u35avx2(_mm256_mul_ps(Sleef_log2f8_u35avx2(v), _mm256_set1_ps(kInvGamma)));
  const __m256 infinity = _mm256_set1_ps(std::numeric_limits<float>::infinity());
  const __m256 negativeInfinity = _mm256_sub_ps(_mm256_setzero_ps(), infinity);
  return _mm256_blendv_ps(encoded, infinity, _mm256_cmp_ps(v, negativeInfinity, _CMP_EQ_OQ));
}

} // namespace

bool canUseAvx2() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"); }

namespace {

// Both resolves; `totalDepth` null selects the additive alpha (raised to the brightest colour),
// otherwise alpha is 1 - exp(-total depth).
void resolveRange(const Rgba32f *accumulator, const float *totalDepth, Rgba8 *image,
                  Rgba32f *imageFloat, float exposure, uint64_t begin, uint64_t end) {
  const __m256 negativeExposure = _mm256_set1_ps(-exposure);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 byteScale = _mm256_set1_ps(255.0f);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
  // With a finite exposure an unlit pixel resolves to exactly 0 in every channel.
  const bool skipUnlit = std::isfinite(exposure);

  uint64_t i = begin;
  for (; i + 2 <= end; i += 2) { // two RGBA pixels per vector
    const __m256 accumulated = _mm256_loadu_ps(&accumulator[i].r);
    // Volumetric: the two totals in the alpha lanes.
    const __m256 depth =
        totalDepth ? _mm256_setr_ps(0, 0, 0, totalDepth[i], 0, 0, 0, totalDepth[i + 1]) : zero;
    __m256 value = zero;
    const bool unlit =
        skipUnlit &&
        _mm256_movemask_ps(_mm256_cmp_ps(_mm256_or_ps(accumulated, depth), zero, _CMP_NEQ_UQ)) == 0;
    if (!unlit) {
      value = _mm256_sub_ps(one, Sleef_expf8_u10avx2(_mm256_mul_ps(negativeExposure, accumulated)));
      __m256 alpha;
      if (totalDepth) {
        alpha = _mm256_sub_ps(one, Sleef_expf8_u10avx2(_mm256_sub_ps(zero, depth)));
      } else {
        // Alpha raised to the brightest colour, in the order a, r, g, b, then 0.
        alpha = maxNumber8(_mm256_permute_ps(value, 0xFF), _mm256_permute_ps(value, 0x00));
        alpha = maxNumber8(alpha, _mm256_permute_ps(value, 0x55));
        alpha = maxNumber8(alpha, _mm256_permute_ps(value, 0xAA));
        alpha = maxNumber8(alpha, zero);
      }
      value = _mm256_blend_ps(value, alpha, 0x88);
    }
    if (imageFloat)
      _mm256_storeu_ps(&imageFloat[i].r, value);
    if (image) {
      __m256i bytes = _mm256_setzero_si256();
      if (!unlit) {
        const __m256 encoded = _mm256_add_ps(_mm256_mul_ps(gammaEncode(value), byteScale), half);
        // Not-a-number and negatives give 0 (max returns its second operand on NaN), and the
        // value saturates at 255 before truncation.
        bytes = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(encoded, zero), byteScale));
      }
      const __m128i words =
          _mm_packus_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
      const __m128i packed = _mm_or_si128(_mm_packus_epi16(words, words), opaque);
      _mm_storel_epi64(reinterpret_cast<__m128i *>(&image[i]), packed);
    }
  }
  for (; i < end; ++i) {
    if (totalDepth)
      resolveVolPixel(accumulator, totalDepth, image, imageFloat, int32_t(i), exposure);
    else
      resolvePixel(accumulator, image, imageFloat, int32_t(i), exposure);
  }
}

} // namespace

void resolveRangeAvx2(const ResolveArgs &a, uint64_t begin, uint64_t end) {
  resolveRange(a.accumulator, nullptr, a.image, a.imageFloat, a.exposure, begin, end);
}

void resolveVolRangeAvx2(const ResolveVolArgs &a, uint64_t begin, uint64_t end) {
  resolveRange(a.accumulator, a.totalDepth, a.image, a.imageFloat, a.exposure, begin, end);
}

} // namespace ek
