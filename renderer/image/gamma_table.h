// Gamma encoding of linear colour values for PNG samples: the stored integer is
// trunc(pow(c, 0.45454544f) × S + 0.5) in single precision, for c in [0, 1] and S = 255 or 65535.
//
// Calling the power function for every sample would add about a third to the time the compressor
// needs for a typical image, so GammaTable finds the result by comparing the float's bits with
// precomputed thresholds: t[k] is the smallest float whose encoding reaches k, found with the exact
// formula. A piecewise linear estimate of the power proposes k, and the result is k when c lies
// between t[k] and t[k + 1]. A power function that is correct to within a few units in the last
// place can only disagree with the thresholds for inputs within a few ulps of one; inputs that
// close to a threshold (kGuardUlps), and the rare inputs whose estimate is off, are encoded with
// the exact formula, so every result is the formula's.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace ek::image {

// The single-precision value nearest 1/2.2.
constexpr float kEncodingGamma = 0.45454544f;

// The formula itself, for c in [0, 1]; maxValue is S.
uint32_t gammaEncodeExact(float c, uint32_t maxValue);

class GammaTable {
public:
  // Shared tables for S = 255 and S = 65535, built on first use (thread-safe) and read-only after.
  static const GammaTable &eightBit();
  static const GammaTable &sixteenBit();

  explicit GammaTable(uint32_t maxValue);

  uint32_t maxValue() const { return maxValue_; }
  // Smallest float bit pattern whose encoding is at least k, for k in 1 .. maxValue.
  uint32_t threshold(uint32_t k) const { return thresholds_[k]; }

  // Encoding of c, which must lie in [0, 1] (not NaN). Equal to gammaEncodeExact(c, maxValue()).
  uint32_t encode(float c) const {
    const uint32_t bits = std::bit_cast<uint32_t>(c);
    // Inputs below the first segment use it too: their estimate stays between 0 and 1.
    const uint32_t segmentIndex = bits >> kSegmentShift;
    const uint32_t index = segmentIndex > firstSegment_ ? segmentIndex : firstSegment_;
    const Segment &segment = segments_[index - firstSegment_];
    const float start = std::bit_cast<float>(index << kSegmentShift);
    const float estimate = (segment.value + segment.slope * (c - start)) * scale_ + 0.5f;
    const auto rounded = static_cast<uint32_t>(estimate);
    const uint32_t k = rounded < maxValue_ ? rounded : maxValue_;
    // The estimate is almost always right. It is taken when c lies between t[k] and t[k + 1] and
    // more than kGuardUlps from both (the differences are signed, so a c outside fails the test);
    // everything else takes the exact formula.
    const uint32_t *t = thresholds_.data();
    if (static_cast<int32_t>(bits - t[k]) >= kGuardUlps &&
        static_cast<int32_t>(t[k + 1] - bits) > kGuardUlps) {
      return k;
    }
    return gammaEncodeExact(c, maxValue_);
  }

private:
  static constexpr int32_t kGuardUlps = 16;
  // Linear pieces of the estimate span 2^15 consecutive floats (1/256 of a binade).
  static constexpr uint32_t kSegmentShift = 15;

  struct Segment {
    float value; // pow(start, gamma)
    float slope; // change of the power per unit of c across the segment
  };

  uint32_t maxValue_;
  float scale_;
  // thresholds_[0] = -kGuardUlps and thresholds_[maxValue + 1] = INT32_MAX bracket every input
  // in [0, 1] with room for the guard.
  std::vector<uint32_t> thresholds_;
  uint32_t firstSegment_;
  std::vector<Segment> segments_;
};

} // namespace ek::image
