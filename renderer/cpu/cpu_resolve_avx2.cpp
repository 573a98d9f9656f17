// The additive and volumetric resolves, two RGBA pixels per eight lanes, written as resolveValue,
// resolveVolPixel and gammaByte are.
#include <algorithm>
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

// gammaByte on each lane as SLEEF gives it, before packing: 0 .. 255 in each 32-bit lane.
// Not-a-number and negatives give 0 (max returns its second operand on not-a-number), and the
// value saturates at 255 before truncation.
__m256i gammaBytesBySleef(F32x8 value) {
  const F32x8 scaled = gammaEncode(value) * 255.0f + 0.5f;
  return avx2::truncateToInt(avx2::min(avx2::max(scaled, 0.0f), 255.0f)).v;
}

// The same bytes by table. The byte can only change where the encoded value crosses one of the
// 255 steps between bytes, so the positive floats from 2^-21 (below which every byte is 0) up to 2
// (above which every byte is 255) are cut into buckets by their exponent and the top seven bits
// of their mantissa. Consecutive steps lie at least 0.87 % apart and a bucket spans at most
// 0.79 %, so a bucket holds at most one step: its entry keeps the byte at the bucket's start and
// the low 16 bits of the first float that gives the next byte (65536 when none does). The table is
// made from gammaBytesBySleef itself, by bisection inside each bucket. SLEEF's functions are not
// quite monotonic, so right at a step a float may give the byte of the other side (one does in
// SLEEF 3.x); the floats around every step are therefore compared with gammaBytesBySleef, and
// the few that differ are kept as exceptions that take the SLEEF path. Far from a step the
// functions' error cannot change the byte.
class GammaTable {
public:
  static constexpr uint32_t kLowBits = 16;
  static constexpr uint32_t kFirstBits = 0x35000000u; // 2^-21
  static constexpr uint32_t kLastBits = 0x40000000u;  // 2
  static constexpr uint32_t kBuckets = (kLastBits - kFirstBits) >> kLowBits;
  static constexpr uint32_t kNone = 1u << kLowBits;

  GammaTable() {
    // Entry 0 stands for every float below the first bucket (and negatives), entry kBuckets + 1
    // for every one from 2 up; both hold their byte with no step.
    entries_[0] = kNone;
    entries_[kBuckets + 1] = (255u << 17) | kNone;
    // The bytes at each bucket's first and last float, eight buckets at a time.
    static_assert(kBuckets % 8 == 0);
    uint32_t startByte[kBuckets], endByte[kBuckets];
    for (uint32_t b = 0; b < kBuckets; b += 8) {
      uint32_t start[8];
      for (uint32_t lane = 0; lane < 8; ++lane)
        start[lane] = kFirstBits + ((b + lane) << kLowBits);
      bytesOf(start, 0, startByte + b);
      bytesOf(start, kNone - 1, endByte + b);
    }
    uint32_t previous = 0;
    uint32_t stepBuckets[kBuckets], steps = 0;
    for (uint32_t b = 0; b < kBuckets; ++b) {
      if (startByte[b] < previous || endByte[b] < startByte[b] || endByte[b] > startByte[b] + 1)
        usable_ = false;
      if (endByte[b] != startByte[b])
        stepBuckets[steps++] = b;
      entries_[b + 1] = (startByte[b] << 17) | kNone;
      previous = endByte[b];
    }
    uint32_t two[8] = {kLastBits, kLastBits, kLastBits, kLastBits,
                       kLastBits, kLastBits, kLastBits, kLastBits};
    uint32_t twoByte[8];
    bytesOf(two, 0, twoByte);
    usable_ = usable_ && twoByte[0] == 255 && previous == 255 && startByte[0] == 0;
    if (!usable_)
      return;
    // The first float of the next byte in each bucket that has a step, eight bisected together.
    for (uint32_t first = 0; first < steps; first += 8) {
      uint32_t start[8], low[8], high[8];
      for (uint32_t lane = 0; lane < 8; ++lane) {
        const uint32_t b = stepBuckets[std::min(first + lane, steps - 1)];
        start[lane] = kFirstBits + (b << kLowBits);
        low[lane] = 1; // the first float gives the bucket's own byte
        high[lane] = kNone - 1;
      }
      for (int round = 0; round < int(kLowBits); ++round) {
        uint32_t probe[8], probeByte[8];
        for (uint32_t lane = 0; lane < 8; ++lane)
          probe[lane] = start[lane] + (low[lane] + high[lane]) / 2;
        bytesOf(probe, 0, probeByte);
        for (uint32_t lane = 0; lane < 8; ++lane) {
          if (low[lane] == high[lane])
            continue;
          const uint32_t b = (start[lane] - kFirstBits) >> kLowBits;
          if (probeByte[lane] == startByte[b])
            low[lane] = (low[lane] + high[lane]) / 2 + 1;
          else
            high[lane] = (low[lane] + high[lane]) / 2;
        }
      }
      for (uint32_t lane = 0; lane < 8 && first + lane < steps; ++lane)
        entries_[stepBuckets[first + lane] + 1] =
            (startByte[stepBuckets[first + lane]] << 17) | low[lane];
    }
    // Every float within kCheckedUlps of a change of byte, against the SLEEF path.
    for (uint32_t b = 0; b < kBuckets && usable_; ++b) {
      const uint32_t entry = entries_[b + 1], start = kFirstBits + (b << kLowBits);
      if (b > 0 && startByte[b] != endByte[b - 1])
        checkAround(start);
      if ((entry & (2 * kNone - 1)) != kNone)
        checkAround(start + (entry & (2 * kNone - 1)));
    }
  }

  bool usable() const { return usable_; }

  // Lanes that must take the SLEEF path: not-a-number, -infinity and the exceptions.
  bool awkward(F32x8 value) const {
    const float infinity = std::numeric_limits<float>::infinity();
    Mask8 lanes = (value != value) | (value == F32x8(-infinity));
    for (uint32_t e = 0; e < exceptionCount_; ++e)
      lanes =
          lanes | Mask8{_mm256_castsi256_ps(_mm256_cmpeq_epi32(
                      _mm256_castps_si256(value.v), _mm256_set1_epi32(int32_t(exceptions_[e]))))};
    return lanes.laneBits() != 0;
  }

  // Bytes of lanes that are neither not-a-number nor -infinity.
  __m256i bytes(F32x8 value) const {
    const __m256i bits = _mm256_castps_si256(value.v);
    // Negatives (negative integers here) count as +0 and clamp to entry 0; +infinity clamps to
    // the last.
    const __m256i positive = _mm256_max_epi32(bits, _mm256_setzero_si256());
    __m256i key = _mm256_srai_epi32(
        _mm256_sub_epi32(positive, _mm256_set1_epi32(int32_t(kFirstBits))), int(kLowBits));
    key = _mm256_min_epi32(_mm256_max_epi32(key, _mm256_set1_epi32(-1)),
                           _mm256_set1_epi32(int32_t(kBuckets)));
    const __m256i entry =
        _mm256_i32gather_epi32(reinterpret_cast<const int *>(entries_ + 1), key, 4);
    const __m256i step = _mm256_and_si256(entry, _mm256_set1_epi32(int32_t(2 * kNone - 1)));
    const __m256i low = _mm256_and_si256(bits, _mm256_set1_epi32(int32_t(kNone - 1)));
    // The byte at the bucket's start, plus one from the step on: (step > low) is -1 before it.
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_srli_epi32(entry, 17), _mm256_set1_epi32(1)),
                            _mm256_cmpgt_epi32(step, low));
  }

private:
  // Bytes of the floats with bits start[lane] + offset.
  static void bytesOf(const uint32_t start[8], uint32_t offset, uint32_t out[8]) {
    const __m256i bits =
        _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(start)),
                         _mm256_set1_epi32(int32_t(offset)));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out),
                        gammaBytesBySleef(F32x8(_mm256_castsi256_ps(bits))));
  }

  static constexpr uint32_t kCheckedUlps = 256;
  static constexpr uint32_t kMaxExceptions = 8;

  // Compares the floats within kCheckedUlps of `bits` by table and by SLEEF and keeps those that
  // differ as exceptions; too many of them leave the table unused.
  void checkAround(uint32_t bits) {
    for (uint32_t first = bits - kCheckedUlps; first < bits + kCheckedUlps; first += 8) {
      __m256i lanes = _mm256_add_epi32(_mm256_set1_epi32(int32_t(first)),
                                       _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
      const F32x8 value(_mm256_castsi256_ps(lanes));
      uint32_t differs = uint32_t(_mm256_movemask_ps(
          _mm256_castsi256_ps(_mm256_cmpeq_epi32(bytes(value), gammaBytesBySleef(value)))));
      differs = ~differs & 0xFFu;
      for (uint32_t lane = 0; lane < 8; ++lane) {
        if (!((differs >> lane) & 1u))
          continue;
        if (exceptionCount_ == kMaxExceptions) {
          usable_ = false;
          return;
        }
        exceptions_[exceptionCount_++] = first + lane;
      }
    }
  }

  uint32_t entries_[kBuckets + 2];
  uint32_t exceptions_[kMaxExceptions];
  uint32_t exceptionCount_ = 0;
  bool usable_ = true;
};

const GammaTable &gammaTable() {
  static const GammaTable table;
  return table;
}

// The two pixels' bytes with alpha 255, in the low eight bytes, from their bytes in 32-bit lanes.
__m128i packPixels(__m256i bytes) {
  const __m128i words =
      _mm_packus_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
  const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
  return _mm_or_si128(_mm_packus_epi16(words, words), opaque);
}

__m128i transparentBlack() { return _mm_set1_epi32(int32_t(0xFF000000u)); }

// gammaByte on each lane, in 32-bit lanes. The table serves every lane unless one of them is
// awkward for it.
__m256i encodeBytes(F32x8 value, const GammaTable &table) {
  return !table.usable() || table.awkward(value) ? gammaBytesBySleef(value) : table.bytes(value);
}

// Both resolves; `totalDepth` null selects the additive alpha (raised to the brightest colour),
// otherwise alpha is 1 - exp(-total depth).
void resolveRange(const Rgba32f *accumulator, const float *totalDepth, Rgba8 *image,
                  Rgba32f *imageFloat, float exposure, uint64_t begin, uint64_t end) {
  const F32x8 zero = 0.0f;
  // With a finite exposure an unlit pixel resolves to exactly 0 in every channel.
  const bool skipUnlit = std::isfinite(exposure);
  const GammaTable &table = gammaTable();

  // Pixels i and i + 1 in the lanes of one register; `unlit` tells they are both unlit.
  auto resolvePair = [&](uint64_t i, bool &unlit) {
    const F32x8 accumulated = F32x8::load(&accumulator[i].r);
    // Volumetric: the two totals in the alpha lanes.
    const F32x8 depth =
        totalDepth ? _mm256_setr_ps(0, 0, 0, totalDepth[i], 0, 0, 0, totalDepth[i + 1]) : zero;
    // Every lane zero (of either sign) in both.
    unlit = skipUnlit && (F32x8(_mm256_or_ps(accumulated.v, depth.v)) != zero).laneBits() == 0;
    if (unlit)
      return zero;
    const F32x8 value = F32x8(1.0f) - exp(F32x8(-exposure) * accumulated); // exposeChannel
    F32x8 alpha;
    if (totalDepth) {
      alpha = F32x8(1.0f) - exp(zero - depth);
    } else {
      alpha = avx2::maxNumber(channel<3>(value), channel<0>(value));
      alpha = avx2::maxNumber(alpha, channel<1>(value));
      alpha = avx2::maxNumber(alpha, channel<2>(value));
      alpha = avx2::maxNumber(alpha, zero);
    }
    return withAlpha(value, alpha);
  };

  uint64_t i = begin;
  // Eight pixels at a time: their 24 colour channels go through the byte encoding in three
  // registers, the fourth pair's colours in the alpha lanes of the other three (alpha is 255
  // whatever its lanes give).
  for (; i + 8 <= end; i += 8) {
    F32x8 value[4];
    bool unlit[4];
    for (int pair = 0; pair < 4; ++pair) {
      value[pair] = resolvePair(i + 2 * pair, unlit[pair]);
      if (imageFloat)
        value[pair].store(&imageFloat[i + 2 * pair].r);
    }
    if (!image)
      continue;
    if (unlit[0] && unlit[1] && unlit[2] && unlit[3]) {
      for (int pair = 0; pair < 4; ++pair)
        _mm_storel_epi64(reinterpret_cast<__m128i *>(&image[i + 2 * pair]), transparentBlack());
      continue;
    }
    // An unlit pair's zeros encode to the transparent black it stands for.
    __m256i bytes[4];
    bytes[0] = encodeBytes(withAlpha(value[0], channel<0>(value[3])), table);
    bytes[1] = encodeBytes(withAlpha(value[1], channel<1>(value[3])), table);
    bytes[2] = encodeBytes(withAlpha(value[2], channel<2>(value[3])), table);
    // The fourth pair's red, green and blue back from the alpha lanes.
    const __m256 red = _mm256_permute_ps(_mm256_castsi256_ps(bytes[0]), 0xFF);
    const __m256 green = _mm256_permute_ps(_mm256_castsi256_ps(bytes[1]), 0xFF);
    const __m256 blue = _mm256_permute_ps(_mm256_castsi256_ps(bytes[2]), 0xFF);
    bytes[3] = _mm256_castps_si256(_mm256_blend_ps(_mm256_blend_ps(red, green, 0x22), blue, 0x44));
    for (int pair = 0; pair < 4; ++pair)
      _mm_storel_epi64(reinterpret_cast<__m128i *>(&image[i + 2 * pair]), packPixels(bytes[pair]));
  }
  for (; i + 2 <= end; i += 2) {
    bool unlit;
    const F32x8 value = resolvePair(i, unlit);
    if (imageFloat)
      value.store(&imageFloat[i].r);
    if (image)
      _mm_storel_epi64(reinterpret_cast<__m128i *>(&image[i]),
                       unlit ? transparentBlack() : packPixels(encodeBytes(value, table)));
  }
  for (; i < end; ++i) {
    if (totalDepth)
      resolveVolPixel(accumulator, totalDepth, image, imageFloat, int32_t(i), exposure);
    else
      resolvePixel(accumulator, image, imageFloat, int32_t(i), exposure);
  }
}

} // namespace

void gammaBytesAvx2(const float *values, uint8_t *bytes, uint64_t count, bool byTable) {
  const GammaTable &table = gammaTable();
  for (uint64_t i = 0; i < count; i += 8) {
    float lanes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const uint64_t n = std::min<uint64_t>(8, count - i);
    std::copy(values + i, values + i + n, lanes);
    const F32x8 value = F32x8::load(lanes);
    uint32_t out[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out),
                        byTable && table.usable() && !table.awkward(value)
                            ? table.bytes(value)
                            : gammaBytesBySleef(value));
    for (uint64_t lane = 0; lane < n; ++lane)
      bytes[i + lane] = uint8_t(out[lane]);
  }
}

bool gammaTableUsable() { return gammaTable().usable(); }

void resolveRangeAvx2(const ResolveArgs &a, uint64_t begin, uint64_t end) {
  resolveRange(a.accumulator, nullptr, a.image, a.imageFloat, a.exposure, begin, end);
}

void resolveVolRangeAvx2(const ResolveVolArgs &a, uint64_t begin, uint64_t end) {
  resolveRange(a.accumulator, a.totalDepth, a.image, a.imageFloat, a.exposure, begin, end);
}

} // namespace ek
