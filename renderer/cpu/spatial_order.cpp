#include "cpu/spatial_order.h"

#include <algorithm>
#include <utility>

namespace ek {

namespace {

constexpr int kBitsPerAxis = 10;
constexpr float kSteps = float((1 << kBitsPerAxis) - 1);
constexpr int kDigitBits = 8;
constexpr int kDigits = 4; // 30-bit codes in four 8-bit digits
constexpr uint32_t kDigitValues = 1u << kDigitBits;
constexpr uint32_t kDigitMask = kDigitValues - 1;

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

void SpatialOrder::build(WorkerPool &pool, const EKV3 *positions, uint32_t count, const float lo[3],
                         const float hi[3]) {
  float scale[3];
  for (int a = 0; a < 3; ++a)
    scale[a] = hi[a] > lo[a] ? kSteps / (hi[a] - lo[a]) : 0.0f;
  for (PageArray<uint32_t> *v : {&order_, &codes_, &sortedCodes_, &sortedOrder_})
    v->resizeForOverwrite(count);
  pool.parallelFor(count, pool.chunkFor(count, 4096), [&](uint64_t begin, uint64_t end, unsigned) {
    for (uint64_t i = begin; i < end; ++i) {
      const EKV3 &p = positions[i];
      codes_[i] = spreadBits(quantise(p.x, lo[0], scale[0])) |
                  spreadBits(quantise(p.y, lo[1], scale[1])) << 1 |
                  spreadBits(quantise(p.z, lo[2], scale[2])) << 2;
      order_[i] = uint32_t(i);
    }
  });
  // Least-significant-digit radix sort, stable, so equal codes keep their index order. Each pass
  // splits the codes into one contiguous part per worker: every part counts its digits, and then
  // moves its codes to where the counts of all digits below and of the parts before it end.
  const uint64_t parts = pool.size();
  const uint64_t part = count / parts + (count % parts != 0);
  if (part == 0)
    return;
  counts_.resize(parts * kDigitValues);
  for (int digit = 0; digit < kDigits; ++digit) {
    const int shift = digit * kDigitBits;
    // All parts' counts start at zero, also those of parts left without codes (fewer codes than
    // workers): the sum below reads every part.
    std::fill(counts_.begin(), counts_.end(), 0u);
    pool.parallelFor(count, part, [&](uint64_t begin, uint64_t end, unsigned) {
      uint32_t *counts = counts_.data() + begin / part * kDigitValues;
      for (uint64_t i = begin; i < end; ++i)
        ++counts[(codes_[i] >> shift) & kDigitMask];
    });
    uint32_t sum = 0;
    for (uint32_t value = 0; value < kDigitValues; ++value)
      for (uint64_t p = 0; p < parts; ++p)
        sum += std::exchange(counts_[p * kDigitValues + value], sum);
    pool.parallelFor(count, part, [&](uint64_t begin, uint64_t end, unsigned) {
      uint32_t *starts = counts_.data() + begin / part * kDigitValues;
      for (uint64_t i = begin; i < end; ++i) {
        const uint32_t to = starts[(codes_[i] >> shift) & kDigitMask]++;
        sortedCodes_[to] = codes_[i];
        sortedOrder_[to] = order_[i];
      }
    });
    codes_.swap(sortedCodes_);
    order_.swap(sortedOrder_);
  }
}

} // namespace ek
