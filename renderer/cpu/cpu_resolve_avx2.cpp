// The additive and volumetric resolves, two RGBA pixels per eight lanes, written as resolveValue,
// resolveVolPixel and gammaByte are.
#include <cmath>
#include <limits>
#include <sleef.h>

#include "cpu/cpu_avx2.h"
#include "cpu/cpu_avx2_lanes.h"
#include "kernels/volume.h"

namespace ek {

namespace {

using avx2::F32x8;
using avx2::Mask8;

// SLEEF's single-precision functions in place of the C library's.
F32x8 exp(F32x8 x) { return Sleef_expf8_u10avx2(x.v); }

// One channel of each of the two pixels, in all four lanes of its pixel.
template <int Channel> F32x8 channel(F32x8 pixels) {
  return _mm256_permute_ps(pixels.v, Channel * 0x55);
}

// The two pixels with their alpha lanes taken from `alpha`.
F32x8 withAlpha(F32x8 pixels, F32x8 alpha) { return _mm256_blend_ps(pixels.v, alpha.v, 0x88); }

// v^(1/2.2) for the 8-bit image, as 2^(log2(v) / 2.2) with SLEEF's 3.5-ulp functions: twice as
// fast as its power function and far more accurate than the 1/255 steps it feeds. Like the power,
// v = 0 gives 0, negatives and not-a-number give not-a-number, and -infinity gives +infinity.
F32x8 gammaEncode(F32x8 v) {
  const F32x8 encoded = Sleef_exp2f8_u35avx2((F32x8(Sleef_log2f8_u35avx2(v.v)) * kInvGamma).v);
  const float infinity = std::numeric_limits<float>::infinity();
  return avx2::select(v == F32x8(0.0f) - infinity, infinity, encoded);
}

// gammaByte on each lane, packed into the two pixels' bytes with alpha 255.
void storeBytes(F32x8 value, Rgba8 *twoPixels) {
  const F32x8 scaled = gammaEncode(value) * 255.0f + 0.5f;
  // Not-a-number and negatives give 0 (max returns its second operand on not-a-number), and the
  // value saturates at 255 before truncation.
  const __m256i bytes = avx2::truncateToInt(avx2::min(avx2::max(scaled, 0.0f), 255.0f)).v;
  const __m128i words =
      _mm_packus_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(twoPixels),
                   _mm_or_si128(_mm_packus_epi16(words, words), opaque));
}

void storeTransparentBlack(Rgba8 *twoPixels) {
  _mm_storel_epi64(reinterpret_cast<__m128i *>(twoPixels), _mm_set1_epi32(int32_t(0xFF000000u)));
}

// Both resolves; `totalDepth` null selects the additive alpha (raised to the brightest colour),
// otherwise alpha is 1 - exp(-total depth).
void resolveRange(const Rgba32f *accumulator, const float *totalDepth, Rgba8 *image,
                  Rgba32f *imageFloat, float exposure, uint64_t begin, uint64_t end) {
  const F32x8 zero = 0.0f;
  // With a finite exposure an unlit pixel resolves to exactly 0 in every channel.
  const bool skipUnlit = std::isfinite(exposure);

  uint64_t i = begin;
  for (; i + 2 <= end; i += 2) {
    const F32x8 accumulated = F32x8::load(&accumulator[i].r);
    // Volumetric: the two totals in the alpha lanes.
    const F32x8 depth =
        totalDepth ? _mm256_setr_ps(0, 0, 0, totalDepth[i], 0, 0, 0, totalDepth[i + 1]) : zero;
    // Every lane zero (of either sign) in both.
    const bool unlit =
        skipUnlit && (F32x8(_mm256_or_ps(accumulated.v, depth.v)) != zero).laneBits() == 0;
    F32x8 value = zero;
    if (!unlit) {
      value = F32x8(1.0f) - exp(F32x8(-exposure) * accumulated); // exposeChannel
      F32x8 alpha;
      if (totalDepth) {
        alpha = F32x8(1.0f) - exp(zero - depth);
      } else {
        alpha = avx2::maxNumber(channel<3>(value), channel<0>(value));
        alpha = avx2::maxNumber(alpha, channel<1>(value));
        alpha = avx2::maxNumber(alpha, channel<2>(value));
        alpha = avx2::maxNumber(alpha, zero);
      }
      value = withAlpha(value, alpha);
    }
    if (imageFloat)
      value.store(&imageFloat[i].r);
    if (image) {
      if (unlit)
        storeTransparentBlack(&image[i]);
      else
        storeBytes(value, &image[i]);
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
