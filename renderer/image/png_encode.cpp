#include "image/png_encode.h"

#include <cstring>
#include <vector>

#include "image/gamma_table.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define EK_PNG_SSE2 1
#endif

namespace ek::image {

namespace {

// Alpha at or below this leaves nothing to un-premultiply: the colour is stored as 0.
constexpr float kMinAlpha = 1e-6f;

// x clamped to [0, 1]; NaN gives 0. Written so that it compiles to max and min without branches.
inline float clampUnit(float x) {
  const float y = x > 0.0f ? x : 0.0f;
  return y < 1.0f ? y : 1.0f;
}

// The float part of the conversion for one pixel: the three un-premultiplied, clamped colours
// and the alpha sample.
struct PixelParts {
  float colour[3];
  uint32_t alpha;
};

template <bool SixteenBit> constexpr float kScale = SixteenBit ? 65535.0f : 255.0f;

template <bool SixteenBit> inline PixelParts pixelParts(const float *p) {
  PixelParts parts;
  const float alpha = clampUnit(p[3]);
  const bool visible = alpha > kMinAlpha;
  const float divisor = visible ? alpha : 1.0f; // no division by zero for hidden pixels
  for (int i = 0; i < 3; ++i) {
    parts.colour[i] = visible ? clampUnit(p[i] / divisor) : 0.0f;
  }
  parts.alpha = static_cast<uint32_t>(alpha * kScale<SixteenBit> + 0.5f);
  return parts;
}

#if defined(EK_PNG_SSE2)
// pixelParts for four pixels at once, the same single-precision operations lane by lane, with the
// colours and alpha samples still in vectors.
struct PixelParts4 {
  __m128 colour[3];
  __m128i alpha;
};

template <bool SixteenBit> inline PixelParts4 pixelParts4(const float *p) {
  __m128 r = _mm_loadu_ps(p);
  __m128 g = _mm_loadu_ps(p + 4);
  __m128 b = _mm_loadu_ps(p + 8);
  __m128 a = _mm_loadu_ps(p + 12);
  _MM_TRANSPOSE4_PS(r, g, b, a);
  const __m128 zero = _mm_setzero_ps();
  const __m128 one = _mm_set1_ps(1.0f);
  // max returns its second operand for NaN, so NaN becomes 0.
  const auto clamp = [&](__m128 x) { return _mm_min_ps(_mm_max_ps(x, zero), one); };
  const __m128 alpha = clamp(a);
  const __m128 visible = _mm_cmpgt_ps(alpha, _mm_set1_ps(kMinAlpha));
  PixelParts4 parts;
  parts.alpha = _mm_cvttps_epi32(
      _mm_add_ps(_mm_mul_ps(alpha, _mm_set1_ps(kScale<SixteenBit>)), _mm_set1_ps(0.5f)));
  if (_mm_movemask_ps(visible) == 0) { // no division needed: every colour is 0
    parts.colour[0] = parts.colour[1] = parts.colour[2] = zero;
    return parts;
  }
  const __m128 divisor = _mm_or_ps(_mm_and_ps(visible, alpha), _mm_andnot_ps(visible, one));
  parts.colour[0] = _mm_and_ps(visible, clamp(_mm_div_ps(r, divisor)));
  parts.colour[1] = _mm_and_ps(visible, clamp(_mm_div_ps(g, divisor)));
  parts.colour[2] = _mm_and_ps(visible, clamp(_mm_div_ps(b, divisor)));
  return parts;
}

// Whether any of the twelve colours is not 0. The colours are never negative, so their bits are all
// 0 exactly when they are 0.
inline bool anyColour(const PixelParts4 &parts) {
  const __m128 any = _mm_or_ps(_mm_or_ps(parts.colour[0], parts.colour[1]), parts.colour[2]);
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_castps_si128(any), _mm_setzero_si128())) != 0xFFFF;
}

// Stores four pixels whose colours are all 0 (which encodes as 0): only the alpha samples, at most
// 65535, are not zero. Each 8-bit pixel is one 32-bit word with alpha in its last byte; each 16-bit
// pixel two such words, the second with alpha's bytes swapped (big-endian) in its upper half.
template <bool SixteenBit> inline uint8_t *storeAlphaOnly(__m128i alpha, uint8_t *out) {
  if constexpr (SixteenBit) {
    const __m128i swapped = _mm_or_si128(
        _mm_srli_epi32(alpha, 8), _mm_and_si128(_mm_slli_epi32(alpha, 8), _mm_set1_epi32(0xFF00)));
    const __m128i high = _mm_slli_epi32(swapped, 16);
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi32(zero, high));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_unpackhi_epi32(zero, high));
    return out + 32;
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_slli_epi32(alpha, 24));
    return out + 16;
  }
}
#endif

template <bool SixteenBit> inline uint8_t *storeSamples(const uint32_t *samples, uint8_t *out) {
  for (int i = 0; i < 4; ++i) {
    if constexpr (SixteenBit) {
      out[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
      out[2 * i + 1] = static_cast<uint8_t>(samples[i]);
    } else {
      out[i] = static_cast<uint8_t>(samples[i]);
    }
  }
  return out + (SixteenBit ? 8 : 4);
}

template <bool SixteenBit>
inline uint8_t *storePixel(const PixelParts &parts, const GammaTable &table, uint8_t *out) {
  const uint32_t samples[4] = {table.encode(parts.colour[0]), table.encode(parts.colour[1]),
                               table.encode(parts.colour[2]), parts.alpha};
  return storeSamples<SixteenBit>(samples, out);
}

template <bool SixteenBit> void convertRow(const float *rgba, std::size_t width, uint8_t *out) {
  const GammaTable &table = SixteenBit ? GammaTable::sixteenBit() : GammaTable::eightBit();
  std::size_t x = 0;
#if defined(EK_PNG_SSE2)
  for (; width - x >= 4; x += 4) {
    const PixelParts4 parts = pixelParts4<SixteenBit>(rgba + x * 4);
    if (!anyColour(parts)) { // as in the empty parts of a picture
      out = storeAlphaOnly<SixteenBit>(parts.alpha, out);
      continue;
    }
    alignas(16) float colours[3][4];
    alignas(16) uint32_t alphas[4];
    for (int c = 0; c < 3; ++c) {
      _mm_store_ps(colours[c], parts.colour[c]);
    }
    _mm_store_si128(reinterpret_cast<__m128i *>(alphas), parts.alpha);
    for (int i = 0; i < 4; ++i) {
      out = storePixel<SixteenBit>({{colours[0][i], colours[1][i], colours[2][i]}, alphas[i]},
                                   table, out);
    }
  }
#endif
  for (; x < width; ++x) {
    out = storePixel<SixteenBit>(pixelParts<SixteenBit>(rgba + x * 4), table, out);
  }
}

// Magnitude of a filtered byte read as a signed value.
inline uint32_t magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

#if defined(EK_PNG_SSE2)
// The same per byte, 16 at a time: the smaller of v and -v as unsigned bytes.
inline __m128i magnitudes(__m128i v) {
  return _mm_min_epu8(v, _mm_sub_epi8(_mm_setzero_si128(), v));
}
// Sum of the 16 magnitudes of x - prediction, added to the two 64-bit lanes of total.
inline __m128i addCost(__m128i total, __m128i x, __m128i prediction) {
  return _mm_add_epi64(total,
                       _mm_sad_epu8(magnitudes(_mm_sub_epi8(x, prediction)), _mm_setzero_si128()));
}
inline uint64_t laneSum(__m128i total) {
  uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(lanes), total);
  return lanes[0] + lanes[1];
}
inline __m128i absolute16(__m128i v) {
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}
#endif

// Predictors from the byte to the left (a), above (b) and above-left (c), one byte at a time and,
// with SSE2, 16 bytes at a time.
struct PredictSub {
  static uint32_t predict(uint32_t a, uint32_t, uint32_t) { return a; }
#if defined(EK_PNG_SSE2)
  static __m128i predict(__m128i a, __m128i, __m128i) { return a; }
#endif
};
struct PredictUp {
  static uint32_t predict(uint32_t, uint32_t b, uint32_t) { return b; }
#if defined(EK_PNG_SSE2)
  static __m128i predict(__m128i, __m128i b, __m128i) { return b; }
#endif
};
struct PredictAverage {
  static uint32_t predict(uint32_t a, uint32_t b, uint32_t) { return (a + b) >> 1; }
#if defined(EK_PNG_SSE2)
  // avg_epu8 rounds up; an odd sum loses the extra one.
  static __m128i predict(__m128i a, __m128i b, __m128i) {
    const __m128i roundedUp = _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1));
    return _mm_sub_epi8(_mm_avg_epu8(a, b), roundedUp);
  }
#endif
};
struct PredictPaeth {
  // With p = a + b - c: |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |a + b - 2c|.
  static uint32_t predict(uint32_t a, uint32_t b, uint32_t c) {
    const int toA = static_cast<int>(b) - static_cast<int>(c);
    const int toB = static_cast<int>(a) - static_cast<int>(c);
    const int pa = toA < 0 ? -toA : toA;
    const int pb = toB < 0 ? -toB : toB;
    const int pc = toA + toB < 0 ? -(toA + toB) : toA + toB;
    return pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
  }
#if defined(EK_PNG_SSE2)
  static __m128i predict(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    __m128i useA[2];
    __m128i useB[2];
    for (int half = 0; half < 2; ++half) {
      const auto widen = [&](__m128i v) {
        return half == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero);
      };
      const __m128i toA = _mm_sub_epi16(widen(b), widen(c));
      const __m128i toB = _mm_sub_epi16(widen(a), widen(c));
      const __m128i pa = absolute16(toA);
      const __m128i pb = absolute16(toB);
      const __m128i pc = absolute16(_mm_add_epi16(toA, toB));
      useA[half] = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)),
                                    _mm_set1_epi16(-1));
      useB[half] = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
    }
    // Masks of 0 or -1 pack into byte masks.
    const __m128i maskA = _mm_packs_epi16(useA[0], useA[1]);
    const __m128i maskB = _mm_packs_epi16(useB[0], useB[1]);
    const __m128i bOrC = _mm_or_si128(_mm_and_si128(maskB, b), _mm_andnot_si128(maskB, c));
    return _mm_or_si128(_mm_and_si128(maskA, a), _mm_andnot_si128(maskA, bOrC));
  }
#endif
};

// Adds the cost of every filter type on bytes [begin, end) of a row, begin >= bpp.
void addCostsScalar(const uint8_t *row, const uint8_t *previous, std::size_t begin, std::size_t end,
                    std::size_t bpp, uint64_t *costs) {
  for (std::size_t i = begin; i < end; ++i) {
    const uint32_t x = row[i];
    const uint32_t a = row[i - bpp];
    const uint32_t b = previous[i];
    const uint32_t c = previous[i - bpp];
    costs[kFilterNone] += magnitude(static_cast<uint8_t>(x));
    costs[kFilterSub] += magnitude(static_cast<uint8_t>(x - PredictSub::predict(a, b, c)));
    costs[kFilterUp] += magnitude(static_cast<uint8_t>(x - PredictUp::predict(a, b, c)));
    costs[kFilterAverage] += magnitude(static_cast<uint8_t>(x - PredictAverage::predict(a, b, c)));
    costs[kFilterPaeth] += magnitude(static_cast<uint8_t>(x - PredictPaeth::predict(a, b, c)));
  }
}

#if defined(EK_PNG_SSE2)
// Same as addCostsScalar for whole blocks of 16 bytes; returns where it stopped.
std::size_t addCostsSse2(const uint8_t *row, const uint8_t *previous, std::size_t begin,
                         std::size_t end, std::size_t bpp, uint64_t *costs) {
  __m128i totals[kPngFilterCount] = {};
  std::size_t i = begin;
  for (; end - i >= 16; i += 16) {
    const auto load = [](const uint8_t *p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    const __m128i x = load(row + i);
    const __m128i a = load(row + i - bpp);
    const __m128i b = load(previous + i);
    const __m128i c = load(previous + i - bpp);
    totals[kFilterNone] = addCost(totals[kFilterNone], x, _mm_setzero_si128());
    totals[kFilterSub] = addCost(totals[kFilterSub], x, PredictSub::predict(a, b, c));
    totals[kFilterUp] = addCost(totals[kFilterUp], x, PredictUp::predict(a, b, c));
    totals[kFilterAverage] = addCost(totals[kFilterAverage], x, PredictAverage::predict(a, b, c));
    totals[kFilterPaeth] = addCost(totals[kFilterPaeth], x, PredictPaeth::predict(a, b, c));
  }
  for (std::size_t type = 0; type < kPngFilterCount; ++type) {
    costs[type] += laneSum(totals[type]);
  }
  return i;
}
#endif

std::array<uint64_t, kPngFilterCount> costsWithPrevious(const uint8_t *row, const uint8_t *previous,
                                                        std::size_t length, std::size_t bpp) {
  std::array<uint64_t, kPngFilterCount> costs{};
  // The first pixel has no left neighbour: a and c count as 0.
  const std::size_t head = bpp < length ? bpp : length;
  for (std::size_t i = 0; i < head; ++i) {
    const uint32_t x = row[i];
    const uint32_t b = previous[i];
    costs[kFilterNone] += magnitude(static_cast<uint8_t>(x));
    costs[kFilterSub] += magnitude(static_cast<uint8_t>(x - PredictSub::predict(0, b, 0)));
    costs[kFilterUp] += magnitude(static_cast<uint8_t>(x - PredictUp::predict(0, b, 0)));
    costs[kFilterAverage] += magnitude(static_cast<uint8_t>(x - PredictAverage::predict(0, b, 0)));
    costs[kFilterPaeth] += magnitude(static_cast<uint8_t>(x - PredictPaeth::predict(0, b, 0)));
  }
  std::size_t done = head;
#if defined(EK_PNG_SSE2)
  done = addCostsSse2(row, previous, done, length, bpp, costs.data());
#endif
  addCostsScalar(row, previous, done, length, bpp, costs.data());
  return costs;
}

template <class Filter>
void applyFilter(const uint8_t *row, const uint8_t *previous, std::size_t length, std::size_t bpp,
                 uint8_t *out) {
  const std::size_t head = bpp < length ? bpp : length;
  for (std::size_t i = 0; i < head; ++i) {
    out[i] = static_cast<uint8_t>(row[i] - Filter::predict(0u, previous[i], 0u));
  }
  std::size_t i = head;
#if defined(EK_PNG_SSE2)
  for (; length - i >= 16; i += 16) {
    const auto load = [](const uint8_t *p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    };
    const __m128i prediction =
        Filter::predict(load(row + i - bpp), load(previous + i), load(previous + i - bpp));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_sub_epi8(load(row + i), prediction));
  }
#endif
  for (; i < length; ++i) {
    out[i] =
        static_cast<uint8_t>(row[i] - Filter::predict(uint32_t{row[i - bpp]}, uint32_t{previous[i]},
                                                      uint32_t{previous[i - bpp]}));
  }
}

PngFilter filterWithPrevious(const uint8_t *row, const uint8_t *previous, std::size_t length,
                             std::size_t bpp, uint8_t *out) {
  const std::array<uint64_t, kPngFilterCount> costs = costsWithPrevious(row, previous, length, bpp);
  std::size_t best = 0;
  for (std::size_t type = 1; type < kPngFilterCount; ++type) {
    if (costs[type] < costs[best]) { // equal costs keep the earlier type
      best = type;
    }
  }
  out[0] = static_cast<uint8_t>(best);
  uint8_t *data = out + 1;
  switch (best) {
  case kFilterNone:
    std::memcpy(data, row, length);
    break;
  case kFilterSub:
    applyFilter<PredictSub>(row, previous, length, bpp, data);
    break;
  case kFilterUp:
    applyFilter<PredictUp>(row, previous, length, bpp, data);
    break;
  case kFilterAverage:
    applyFilter<PredictAverage>(row, previous, length, bpp, data);
    break;
  default:
    applyFilter<PredictPaeth>(row, previous, length, bpp, data);
    break;
  }
  return static_cast<PngFilter>(best);
}

} // namespace

void convertPngRow(const float *rgba, std::size_t width, bool sixteenBit, uint8_t *out) {
  if (sixteenBit) {
    convertRow<true>(rgba, width, out);
  } else {
    convertRow<false>(rgba, width, out);
  }
}

std::array<uint64_t, kPngFilterCount> pngFilterCosts(const uint8_t *row, const uint8_t *previous,
                                                     std::size_t length, std::size_t bpp) {
  if (previous != nullptr) {
    return costsWithPrevious(row, previous, length, bpp);
  }
  const std::vector<uint8_t> zeros(length, 0);
  return costsWithPrevious(row, zeros.data(), length, bpp);
}

PngFilter filterPngRow(const uint8_t *row, const uint8_t *previous, std::size_t length,
                       std::size_t bpp, uint8_t *out) {
  if (previous != nullptr) {
    return filterWithPrevious(row, previous, length, bpp, out);
  }
  const std::vector<uint8_t> zeros(length, 0);
  return filterWithPrevious(row, zeros.data(), length, bpp, out);
}

std::unique_ptr<uint8_t[]> filterPngImage(const float *rgba, int32_t width, int32_t height,
                                          bool sixteenBit) {
  const std::size_t columns = static_cast<std::size_t>(width);
  const std::size_t bpp = pngBytesPerPixel(sixteenBit);
  const std::size_t length = columns * bpp;
  auto filtered =
      std::make_unique_for_overwrite<uint8_t[]>(pngFilteredSize(width, height, sixteenBit));
  // The row above the first row counts as zeros.
  std::vector<uint8_t> previous(length, 0);
  std::vector<uint8_t> current(length);
  uint8_t *out = filtered.get();
  for (int32_t y = 0; y < height; ++y) {
    convertPngRow(rgba, columns, sixteenBit, current.data());
    filterWithPrevious(current.data(), previous.data(), length, bpp, out);
    current.swap(previous);
    rgba += columns * 4;
    out += length + 1;
  }
  return filtered;
}

} // namespace ek::image
