#include "image/exr_line.h"

#include "image/half_float.h"

#include <initializer_list>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define EK_EXR_LINE_SSE2 1
#if defined(__GNUC__) || defined(__clang__)
#include <immintrin.h>
#define EK_EXR_LINE_F16C 1
#define EK_TARGET_F16C __attribute__((target("avx,f16c")))
#elif defined(_MSC_VER) && defined(_M_X64)
#include <immintrin.h>
#include <intrin.h>
#define EK_EXR_LINE_F16C 1
#define EK_TARGET_F16C
#endif
#endif

namespace ek::image {

namespace {

constexpr std::size_t kChannels = 4;
// Source component of each output channel, in the file's channel order A, B, G, R.
constexpr std::size_t kSourceComponent[kChannels] = {3, 2, 1, 0};

void storeHalf(uint8_t *out, uint16_t half) {
  out[0] = static_cast<uint8_t>(half & 0xFF);
  out[1] = static_cast<uint8_t>(half >> 8);
}

void encodeScalar(const float *rgba, std::size_t first, std::size_t width, uint8_t *out) {
  for (std::size_t channel = 0; channel < kChannels; ++channel) {
    uint8_t *plane = out + channel * width * 2;
    for (std::size_t x = first; x < width; ++x) {
      storeHalf(plane + x * 2, floatToHalf(rgba[x * kChannels + kSourceComponent[channel]]));
    }
  }
}

void encodeHalfScalar(const float *values, std::size_t stride, std::size_t first, std::size_t count,
                      uint8_t *out) {
  for (std::size_t i = first; i < count; ++i) {
    storeHalf(out + i * 2, floatToHalf(values[i * stride]));
  }
}

#if defined(EK_EXR_LINE_SSE2)

// Half magnitude (sign dropped) of four floats given as bits with the sign cleared, in 32-bit
// lanes. Same rounding as floatToHalf:
// - magnitudes of 65536 and more are clamped to 65536, which the normal path turns into infinity,
//   and NaN lanes get the quiet bit on top of that;
// - normal results add 0xFFF plus the lowest kept mantissa bit before dropping 13 bits, which
//   rounds to nearest with ties to even and carries into the exponent;
// - subnormal results come from adding 0.5: the sum's last mantissa bit is worth 2^-24, the
//   smallest half subnormal, so the addition itself rounds to nearest even in that unit. This
//   needs round-to-nearest, which the caller checks.
inline __m128i halfMagnitude(__m128i magnitudeBits) {
  const __m128 magnitude = _mm_castsi128_ps(magnitudeBits);
  const __m128i isNaN = _mm_castps_si128(_mm_cmpunord_ps(magnitude, magnitude));
  // min returns its second operand for NaN lanes, so those become 65536 as well.
  const __m128i clamped = _mm_castps_si128(_mm_min_ps(magnitude, _mm_set1_ps(65536.0f)));

  const __m128i odd = _mm_and_si128(_mm_srli_epi32(clamped, 13), _mm_set1_epi32(1));
  const __m128i rebias = _mm_set1_epi32(static_cast<int>((15u - 127u) << 23) + 0xFFF);
  const __m128i normal = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(clamped, rebias), odd), 13);

  const __m128i isSubnormal = _mm_cmplt_epi32(clamped, _mm_set1_epi32(113 << 23));
  const __m128 subnormalBias = _mm_set1_ps(0.5f);
  // Only subnormal lanes take part in the addition; the others add 0 + 0.5, which is exact.
  const __m128 small = _mm_castsi128_ps(_mm_and_si128(clamped, isSubnormal));
  const __m128i subnormal = _mm_sub_epi32(_mm_castps_si128(_mm_add_ps(small, subnormalBias)),
                                          _mm_castps_si128(subnormalBias));

  const __m128i finite =
      _mm_or_si128(_mm_and_si128(isSubnormal, subnormal), _mm_andnot_si128(isSubnormal, normal));
  return _mm_or_si128(finite, _mm_and_si128(isNaN, _mm_set1_epi32(0x0200)));
}

// Converts two groups of four floats and packs them into eight halves.
inline __m128i packHalves(__m128 low, __m128 high) {
  const __m128i signMask = _mm_set1_epi32(static_cast<int>(0x80000000u));
  const __m128i lowBits = _mm_castps_si128(low);
  const __m128i highBits = _mm_castps_si128(high);
  const __m128i lowSign = _mm_and_si128(lowBits, signMask);
  const __m128i highSign = _mm_and_si128(highBits, signMask);
  // Magnitudes are at most 0x7E00 and signs shift to 0xFFFF8000 or 0, so the signed saturating
  // pack keeps both exactly.
  const __m128i magnitudes = _mm_packs_epi32(halfMagnitude(_mm_xor_si128(lowBits, lowSign)),
                                             halfMagnitude(_mm_xor_si128(highBits, highSign)));
  const __m128i signs = _mm_packs_epi32(_mm_srai_epi32(lowSign, 16), _mm_srai_epi32(highSign, 16));
  return _mm_or_si128(magnitudes, signs);
}

// Four values `stride` floats apart.
inline __m128 loadStrided4(const float *p, std::size_t stride) {
  return stride == 1 ? _mm_loadu_ps(p) : _mm_set_ps(p[3 * stride], p[2 * stride], p[stride], p[0]);
}

std::size_t encodeHalfSse2(const float *values, std::size_t stride, std::size_t count,
                           uint8_t *out) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const float *p = values + i * stride;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * 2),
                     packHalves(loadStrided4(p, stride), loadStrided4(p + 4 * stride, stride)));
  }
  return i;
}

constexpr unsigned kRoundingControl = 0x6000;
constexpr unsigned kFlushToZero = 0x8000;

// The channels' parts of a line, in the file's order; each holds width halves.
enum LinePart : std::size_t { kPartA = 0, kPartB = 1, kPartG = 2, kPartR = 3 };

// Stores the eight halves of pixels x to x + 7 of one channel into that channel's part.
inline void storeEight(uint8_t *out, std::size_t width, LinePart part, std::size_t x,
                       __m128i halves) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out + (part * width + x) * 2), halves);
}

// Eight pixels per step: two 4 × 4 transposes give each channel's eight values, which are
// converted and stored as 16 bytes into the channel's part of the line.
std::size_t encodeSse2(const float *rgba, std::size_t width, uint8_t *out) {
  std::size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const float *p = rgba + x * kChannels;
    __m128 r0 = _mm_loadu_ps(p);
    __m128 g0 = _mm_loadu_ps(p + 4);
    __m128 b0 = _mm_loadu_ps(p + 8);
    __m128 a0 = _mm_loadu_ps(p + 12);
    _MM_TRANSPOSE4_PS(r0, g0, b0, a0);
    __m128 r1 = _mm_loadu_ps(p + 16);
    __m128 g1 = _mm_loadu_ps(p + 20);
    __m128 b1 = _mm_loadu_ps(p + 24);
    __m128 a1 = _mm_loadu_ps(p + 28);
    _MM_TRANSPOSE4_PS(r1, g1, b1, a1);
    storeEight(out, width, kPartA, x, packHalves(a0, a1));
    storeEight(out, width, kPartB, x, packHalves(b0, b1));
    storeEight(out, width, kPartG, x, packHalves(g0, g1));
    storeEight(out, width, kPartR, x, packHalves(r0, r1));
  }
  return x;
}

#if defined(EK_EXR_LINE_F16C)

bool cpuHasF16c() {
#if defined(_MSC_VER) && !defined(__clang__)
  int info[4];
  __cpuid(info, 1);
  const bool avx = (info[2] & (1 << 28)) != 0;
  const bool f16c = (info[2] & (1 << 29)) != 0;
  const bool osSavesAvx = (info[2] & (1 << 27)) != 0 && (_xgetbv(0) & 6) == 6;
  return avx && f16c && osSavesAvx;
#else
  return __builtin_cpu_supports("avx") && __builtin_cpu_supports("f16c");
#endif
}

// The processor's own conversion rounds to nearest even (the rounding is given in the
// instruction, whatever the control register says), overflows to infinity and produces half
// subnormals, like floatToHalf. It keeps NaN payloads, which are cleared afterwards so that
// every NaN becomes the one quiet NaN with its sign.
EK_TARGET_F16C inline __m128i halvesF16c(__m256 values) {
  const __m128i halves = _mm256_cvtps_ph(values, _MM_FROUND_TO_NEAREST_INT);
  const __m256 isNaN = _mm256_cmp_ps(values, values, _CMP_UNORD_Q);
  if (_mm256_movemask_ps(isNaN) == 0) {
    return halves;
  }
  const __m256i nanBits = _mm256_castps_si256(isNaN);
  const __m128i nanMask =
      _mm_packs_epi32(_mm256_castsi256_si128(nanBits), _mm256_extractf128_si256(nanBits, 1));
  return _mm_andnot_si128(_mm_and_si128(nanMask, _mm_set1_epi16(0x01FF)), halves);
}

// Eight pixels per step: each load holds two pixels, whose eight halves are then sorted into
// channels by 16-bit interleaving.
EK_TARGET_F16C std::size_t encodeF16c(const float *rgba, std::size_t width, uint8_t *out) {
  std::size_t x = 0;
  for (; x + 8 <= width; x += 8) {
    const float *p = rgba + x * kChannels;
    const __m128i v0 = halvesF16c(_mm256_loadu_ps(p));      // R0 G0 B0 A0 R1 G1 B1 A1
    const __m128i v1 = halvesF16c(_mm256_loadu_ps(p + 8));  // pixels 2, 3
    const __m128i v2 = halvesF16c(_mm256_loadu_ps(p + 16)); // pixels 4, 5
    const __m128i v3 = halvesF16c(_mm256_loadu_ps(p + 24)); // pixels 6, 7
    const __m128i t0 = _mm_unpacklo_epi16(v0, v1);          // R0 R2 G0 G2 B0 B2 A0 A2
    const __m128i t1 = _mm_unpackhi_epi16(v0, v1);          // R1 R3 G1 G3 B1 B3 A1 A3
    const __m128i t2 = _mm_unpacklo_epi16(v2, v3);
    const __m128i t3 = _mm_unpackhi_epi16(v2, v3);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1); // R0 R1 R2 R3 G0 G1 G2 G3
    const __m128i u1 = _mm_unpackhi_epi16(t0, t1); // B0 B1 B2 B3 A0 A1 A2 A3
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3); // R4 .. R7 G4 .. G7
    const __m128i u3 = _mm_unpackhi_epi16(t2, t3); // B4 .. B7 A4 .. A7
    storeEight(out, width, kPartA, x, _mm_unpackhi_epi64(u1, u3));
    storeEight(out, width, kPartB, x, _mm_unpacklo_epi64(u1, u3));
    storeEight(out, width, kPartG, x, _mm_unpackhi_epi64(u0, u2));
    storeEight(out, width, kPartR, x, _mm_unpacklo_epi64(u0, u2));
  }
  return x;
}

// Eight values `stride` floats apart.
EK_TARGET_F16C inline __m256 loadStrided8(const float *p, std::size_t stride) {
  if (stride == 1) {
    return _mm256_loadu_ps(p);
  }
  return _mm256_set_ps(p[7 * stride], p[6 * stride], p[5 * stride], p[4 * stride], p[3 * stride],
                       p[2 * stride], p[stride], p[0]);
}

EK_TARGET_F16C std::size_t encodeHalfF16c(const float *values, std::size_t stride,
                                          std::size_t count, uint8_t *out) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i * 2),
                     halvesF16c(loadStrided8(values + i * stride, stride)));
  }
  return i;
}

#endif

#endif

// Whether `conversion` can run on this processor under the calling thread's floating-point
// settings.
bool conversionRuns(HalfConversion conversion) {
  switch (conversion) {
  case HalfConversion::kScalar:
    return true;
  case HalfConversion::kSse2:
#if defined(EK_EXR_LINE_SSE2)
    // Subnormals are rounded by a float addition, which needs round-to-nearest.
    return (_mm_getcsr() & kRoundingControl) == 0;
#else
    return false;
#endif
  case HalfConversion::kF16c:
#if defined(EK_EXR_LINE_F16C)
  {
    static const bool hasF16c = cpuHasF16c();
    // Flush-to-zero might also cut the processor's half subnormals; the SSE2 path does not
    // depend on it.
    return hasF16c && (_mm_getcsr() & kFlushToZero) == 0;
  }
#else
    return false;
#endif
  }
  return false;
}

// The fastest conversion that runs here and now.
HalfConversion fastestConversion() {
  for (HalfConversion conversion : {HalfConversion::kF16c, HalfConversion::kSse2}) {
    if (conversionRuns(conversion)) {
      return conversion;
    }
  }
  return HalfConversion::kScalar;
}

} // namespace

bool encodeExrLineWith(HalfConversion conversion, const float *rgba, std::size_t width,
                       uint8_t *out) {
  if (!conversionRuns(conversion)) {
    return false;
  }
  std::size_t done = 0;
#if defined(EK_EXR_LINE_SSE2)
  if (conversion == HalfConversion::kSse2) {
    done = encodeSse2(rgba, width, out);
  }
#endif
#if defined(EK_EXR_LINE_F16C)
  if (conversion == HalfConversion::kF16c) {
    done = encodeF16c(rgba, width, out);
  }
#endif
  encodeScalar(rgba, done, width, out);
  return true;
}

void encodeExrLine(const float *rgba, std::size_t width, uint8_t *out) {
  encodeExrLineWith(fastestConversion(), rgba, width, out);
}

bool encodeHalfValuesWith(HalfConversion conversion, const float *values, std::size_t stride,
                          std::size_t count, uint8_t *out) {
  if (!conversionRuns(conversion)) {
    return false;
  }
  std::size_t done = 0;
#if defined(EK_EXR_LINE_SSE2)
  if (conversion == HalfConversion::kSse2) {
    done = encodeHalfSse2(values, stride, count, out);
  }
#endif
#if defined(EK_EXR_LINE_F16C)
  if (conversion == HalfConversion::kF16c) {
    done = encodeHalfF16c(values, stride, count, out);
  }
#endif
  encodeHalfScalar(values, stride, done, count, out);
  return true;
}

void encodeHalfValues(const float *values, std::size_t stride, std::size_t count, uint8_t *out) {
  encodeHalfValuesWith(fastestConversion(), values, stride, count, out);
}

} // namespace ek::image
