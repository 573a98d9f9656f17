#include "cpu/spatial_order.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ek {

namespace {

constexpr int kBitsPerAxis = 10;
constexpr float kSteps = float((1 << kBitsPerAxis) - 1);
constexpr int kDigitBits = 8;
constexpr int kDigits = 4; // 30-bit codes in four 8-bit digits
constexpr uint32_t kDigitMask = (1u << kDigitBits) - 1;

// Spreads the low 10 bits of v so that two zero bits follow each.
uint32_t spreadBits(uint32_t v) {
  v &= 0x3FF;
  v = (v | (v << 16)) & 0x030000FF;
  v = (v | (v << 8)) & 0x0300F00F;
  v = (v | (v << 4)) & 0x030C30C3;
  v = (v | (v << 2)) & 0x09249249;
  return v;
}

uint32_t quantise(float value, float lo, float scale) {
  const float steps = (value - lo) * scale;
  // Not-a-number and values outside the box go to the nearest end.
  if (!(steps > 0.0f))
    return 0;
  return steps >= kSteps ? uint32_t(kSteps) : uint32_t(steps);
}

} // namespace

void buildSpatialOrder(WorkerPool &pool, const EKV3 *positions, uint32_t count, const float lo[3],
                       const float hi[3], std::vector<uint32_t> &order) {
  float scale[3];
  for (int a = 0; a < 3; ++a)
    scale[a] = hi[a] > lo[a] ? kSteps / (hi[a] - lo[a]) : 0.0f;
  std::vector<uint32_t> codes(count), sortedCodes(count), scratch(count);
  order.resize(count);
  pool.parallelFor(count, pool.chunkFor(count, 4096), [&](uint64_t begin, uint64_t end, unsigned) {
    for (uint64_t i = begin; i < end; ++i) {
      const EKV3 &p = positions[i];
      codes[i] = spreadBits(quantise(p.x, lo[0], scale[0])) |
                 spreadBits(quantise(p.y, lo[1], scale[1])) << 1 |
                 spreadBits(quantise(p.z, lo[2], scale[2])) << 2;
      order[i] = uint32_t(i);
    }
  });
  // Least-significant-digit radix sort: stable, so equal codes keep their index order.
  for (int digit = 0; digit < kDigits; ++digit) {
    const int shift = digit * kDigitBits;
    std::array<uint32_t, kDigitMask + 1> starts{};
    for (uint32_t i = 0; i < count; ++i)
      ++starts[(codes[i] >> shift) & kDigitMask];
    uint32_t sum = 0;
    for (uint32_t &start : starts)
      sum += std::exchange(start, sum);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t to = starts[(codes[i] >> shift) & kDigitMask]++;
      sortedCodes[to] = codes[i];
      scratch[to] = order[i];
    }
    codes.swap(sortedCodes);
    order.swap(scratch);
  }
}

} // namespace ek
