// Float to half conversion: the worked examples, agreement with OpenEXR's own conversion (Imath)
// on every rounding boundary, and the fast line converter against the one-value reference.
#include <Imath/half.h>
#include <gtest/gtest.h>
#include <zlib.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "image/crc32.h"
#include "image/exr_line.h"
#include "image/half_float.h"

namespace {

using ek::image::floatToHalf;

float fromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

TEST(HalfFloat, WorkedExamples) {
  EXPECT_EQ(floatToHalf(1.0f), 0x3C00);
  EXPECT_EQ(floatToHalf(0.5f), 0x3800);
  EXPECT_EQ(floatToHalf(-2.0f), 0xC000);
  EXPECT_EQ(floatToHalf(65504.0f), 0x7BFF);
  EXPECT_EQ(floatToHalf(65519.996f), 0x7BFF);
  EXPECT_EQ(floatToHalf(65520.0f), 0x7C00); // rounds past the largest half
  EXPECT_EQ(floatToHalf(1e9f), 0x7C00);
  EXPECT_EQ(floatToHalf(-std::numeric_limits<float>::infinity()), 0xFC00);
  EXPECT_EQ(floatToHalf(std::numeric_limits<float>::quiet_NaN()), 0x7E00);
  EXPECT_EQ(floatToHalf(-std::numeric_limits<float>::quiet_NaN()), 0xFE00);
  EXPECT_EQ(floatToHalf(fromBits(0x7F800001)), 0x7E00); // signalling NaN with a payload
  EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -24)), 0x0001);
  EXPECT_EQ(floatToHalf(std::ldexp(1.0f, -25)), 0x0000); // tie goes to the even 0
  EXPECT_EQ(floatToHalf(std::nextafter(std::ldexp(1.0f, -25), 1.0f)), 0x0001);
  EXPECT_EQ(floatToHalf(std::ldexp(3.0f, -25)), 0x0002); // tie goes to the even 2
  EXPECT_EQ(floatToHalf(-1e-10f), 0x8000);
  EXPECT_EQ(floatToHalf(1.0f + std::ldexp(1.0f, -11)), 0x3C00); // tie, even stays
  EXPECT_EQ(floatToHalf(1.0f + std::ldexp(3.0f, -11)), 0x3C02); // tie, odd rounds up
  EXPECT_EQ(floatToHalf(std::ldexp(2047.0f, -25)), 0x0400);     // subnormal carries to normal
}

// Values on both sides of every half and of every midpoint between neighbouring halves, and
// random bit patterns; NaNs are left to the worked examples because Imath keeps their payload.
std::vector<float> boundaryValues() {
  std::vector<float> values;
  for (uint32_t h = 0; h < 0x7C00; ++h) {
    const float value =
        static_cast<float>(Imath::half(Imath::half::FromBits, static_cast<uint16_t>(h)));
    const float next =
        static_cast<float>(Imath::half(Imath::half::FromBits, static_cast<uint16_t>(h + 1)));
    const float middle = value + (next - value) / 2; // exact in single precision
    for (float v : {value, middle, std::nextafter(middle, 0.0f), std::nextafter(middle, 1e9f)}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  std::mt19937 random(7);
  for (int i = 0; i < 1 << 20; ++i) {
    const float v = fromBits(random());
    if (!std::isnan(v)) {
      values.push_back(v);
    }
  }
  return values;
}

TEST(HalfFloat, AgreesWithImathOnRoundingBoundaries) {
  for (float v : boundaryValues()) {
    ASSERT_EQ(floatToHalf(v), Imath::half(v).bits()) << std::hexfloat << v;
  }
}

// Every line conversion this machine can run, and the automatic choice, against the reference,
// NaNs included, for a width that leaves a remainder after the vector blocks; also under
// flush-to-zero with denormals-are-zero and under rounding toward zero, which hosts may set.
TEST(HalfFloat, LineConversionsMatchReference) {
  std::vector<float> values = boundaryValues();
  const uint32_t nans[] = {0x7FC00000u, 0xFFC00001u, 0x7F800001u, 0xFFBFFFFFu};
  for (std::size_t i = 0; i < 4; ++i) {
    values.insert(values.begin() + 3 + 9 * i, fromBits(nans[i]));
  }
  const std::size_t width = 1003;
  std::vector<uint8_t> line(8 * width);
  for (unsigned control : {0x0000u, 0x8040u, 0x6000u}) {
    for (int conversion = 0; conversion <= 3; ++conversion) { // 3: encodeExrLine's own choice
      for (std::size_t start = 0; start + 4 * width <= values.size(); start += 4 * width) {
#if defined(__SSE2__) || defined(_M_X64)
        const unsigned saved = _mm_getcsr();
        _mm_setcsr(saved | control);
#endif
        const bool ran =
            conversion == 3
                ? (ek::image::encodeExrLine(values.data() + start, width, line.data()), true)
                : ek::image::encodeExrLineWith(static_cast<ek::image::HalfConversion>(conversion),
                                               values.data() + start, width, line.data());
#if defined(__SSE2__) || defined(_M_X64)
        _mm_setcsr(saved);
#endif
        if (!ran) {
          break;
        }
        for (std::size_t channel = 0; channel < 4; ++channel) {
          for (std::size_t x = 0; x < width; ++x) {
            const float v = values[start + 4 * x + (3 - channel)]; // channels A, B, G, R
            const std::size_t at = 2 * (channel * width + x);
            ASSERT_EQ(line[at] | line[at + 1] << 8, floatToHalf(v))
                << "control " << control << " conversion " << conversion << " " << std::hexfloat
                << v;
          }
        }
      }
    }
  }
}

// The same for the converter of one channel's values taken at a stride: planes (stride 1, loaded
// whole), interleaved components (stride 3), counts that leave a remainder after the vector
// blocks, and nothing written past the end.
TEST(HalfFloat, StridedConversionsMatchReference) {
  std::vector<float> values = boundaryValues();
  values.insert(values.begin() + 5, fromBits(0xFFC00001u));
  values.insert(values.begin() + 11, fromBits(0x7F800001u));
  for (unsigned control : {0x0000u, 0x8040u, 0x6000u}) {
    for (int conversion = 0; conversion <= 3; ++conversion) { // 3: encodeHalfValues' own choice
      for (std::size_t stride : {std::size_t{1}, std::size_t{3}}) {
        const std::size_t count = 1001;
        std::vector<uint8_t> out(2 * count + 2, 0xA5);
        for (std::size_t start = 0; start + stride * count <= values.size();
             start += stride * count * 7) {
#if defined(__SSE2__) || defined(_M_X64)
          const unsigned saved = _mm_getcsr();
          _mm_setcsr(saved | control);
#endif
          const float *from = values.data() + start;
          const bool ran =
              conversion == 3 ? (ek::image::encodeHalfValues(from, stride, count, out.data()), true)
                              : ek::image::encodeHalfValuesWith(
                                    static_cast<ek::image::HalfConversion>(conversion), from,
                                    stride, count, out.data());
#if defined(__SSE2__) || defined(_M_X64)
          _mm_setcsr(saved);
#endif
          if (!ran) {
            break;
          }
          for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(out[2 * i] | out[2 * i + 1] << 8, floatToHalf(from[i * stride]))
                << "control " << control << " conversion " << conversion << " stride " << stride
                << " " << std::hexfloat << from[i * stride];
          }
          ASSERT_EQ(out[2 * count], 0xA5);
          ASSERT_EQ(out[2 * count + 1], 0xA5);
        }
      }
    }
  }
}

TEST(Crc32, StandardCheckValueAndPieces) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ek::image::crc32(text, sizeof text), 0xCBF43926u);
  uint32_t state = ek::image::crc32Begin();
  state = ek::image::crc32Update(state, text, 4);
  state = ek::image::crc32Update(state, text + 4, 5);
  EXPECT_EQ(ek::image::crc32End(state), 0xCBF43926u);
}

// Against zlib's CRC-32 at every length up to a few steps of eight bytes, at every alignment, on a
// large buffer, and fed in uneven pieces.
TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  std::mt19937 random(21);
  std::vector<uint8_t> data(1 << 20);
  for (uint8_t &byte : data) {
    byte = static_cast<uint8_t>(random());
  }
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t length = 0; length <= 40; ++length) {
      const uint8_t *p = data.data() + offset;
      ASSERT_EQ(ek::image::crc32(p, length), ::crc32(0, p, static_cast<uInt>(length)))
          << offset << " " << length;
    }
  }
  const uint32_t whole = ::crc32(0, data.data(), static_cast<uInt>(data.size()));
  EXPECT_EQ(ek::image::crc32(data.data(), data.size()), whole);
  uint32_t state = ek::image::crc32Begin();
  for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 1021) {
    const std::size_t size = std::min(piece, data.size() - at);
    state = ek::image::crc32Update(state, data.data() + at, size);
  }
  EXPECT_EQ(ek::image::crc32End(state), whole);
}

} // namespace
