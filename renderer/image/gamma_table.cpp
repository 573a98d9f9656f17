#include "image/gamma_table.h"

#include <cmath>
#include <limits>

namespace ek::image {

namespace {

constexpr uint32_t kOneBits = 0x3F800000; // 1.0f

} // namespace

uint32_t gammaEncodeExact(float c, uint32_t maxValue) {
  const float encoded = std::pow(c, kEncodingGamma); // the float overload: single precision
  return static_cast<uint32_t>(encoded * static_cast<float>(maxValue) + 0.5f);
}

const GammaTable &GammaTable::eightBit() {
  static const GammaTable table(255);
  return table;
}

const GammaTable &GammaTable::sixteenBit() {
  static const GammaTable table(65535);
  return table;
}

GammaTable::GammaTable(uint32_t maxValue)
    : maxValue_(maxValue), scale_(static_cast<float>(maxValue)), thresholds_(maxValue + 2) {
  const auto reaches = [maxValue](uint32_t bits, uint32_t k) {
    return gammaEncodeExact(std::bit_cast<float>(bits), maxValue) >= k;
  };
  const double inverseGamma = 1.0 / static_cast<double>(kEncodingGamma);

  thresholds_[0] = 0;
  for (uint32_t k = 1; k <= maxValue; ++k) {
    // Start next to where the exact power reaches k - 0.5, bracket the crossing with growing steps,
    // then bisect. reaches(0, k) is false and reaches(1.0f, k) true for every k >= 1.
    const double target = (static_cast<double>(k) - 0.5) / static_cast<double>(maxValue);
    uint32_t guess = std::bit_cast<uint32_t>(static_cast<float>(std::pow(target, inverseGamma)));
    guess = guess < kOneBits ? guess : kOneBits;
    uint32_t low = 0;
    uint32_t high = kOneBits;
    if (reaches(guess, k)) {
      high = guess;
      for (uint32_t step = 1;; step *= 2) {
        low = high > step ? high - step : 0;
        if (low == 0 || !reaches(low, k)) {
          break;
        }
        high = low;
      }
    } else {
      low = guess;
      for (uint32_t step = 1;; step *= 2) {
        high = kOneBits - low > step ? low + step : kOneBits;
        if (high == kOneBits || reaches(high, k)) {
          break;
        }
        low = high;
      }
    }
    while (high - low > 1) {
      const uint32_t middle = low + (high - low) / 2;
      (reaches(middle, k) ? high : low) = middle;
    }
    // Keep the thresholds ordered even if the power function wobbles.
    thresholds_[k] = high > thresholds_[k - 1] ? high : thresholds_[k - 1];
  }
  thresholds_[maxValue + 1] = std::numeric_limits<int32_t>::max();

  thresholds_[0] = static_cast<uint32_t>(-kGuardUlps);
  // Pieces start just below t[1]; every smaller input shares the first one.
  firstSegment_ = (thresholds_[1] - static_cast<uint32_t>(kGuardUlps)) >> kSegmentShift;
  const uint32_t lastSegment = kOneBits >> kSegmentShift;
  segments_.resize(lastSegment - firstSegment_ + 1);
  for (uint32_t i = firstSegment_; i <= lastSegment; ++i) {
    const double start = std::bit_cast<float>(i << kSegmentShift);
    const double end = std::bit_cast<float>((i + 1) << kSegmentShift);
    const double startValue = std::pow(start, static_cast<double>(kEncodingGamma));
    const double endValue = std::pow(end, static_cast<double>(kEncodingGamma));
    segments_[i - firstSegment_] = {static_cast<float>(startValue),
                                    static_cast<float>((endValue - startValue) / (end - start))};
  }
}

} // namespace ek::image
