// The exact sums of the GPU's volumetric shading, and the merge of a bounds measure into its
// buffers, run on the host: values become units of 2^-32 rounded to the nearest, clamped at the
// range's ends; the 128-bit totals carry, never wrap, do not depend on the order of the additions
// or on the threads making them, and turn into the float nearest to the exact sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "kernels/bounds_buffers.h"
#include "kernels/exact_sums.h"

namespace {

using ek::ExactSum;

constexpr unsigned long long kAllBits = ~0ull;

ExactSum sumOf(const std::vector<float> &values) {
  ExactSum sum{0, 0};
  for (float v : values)
    ek::atomicAddExact(&sum, v);
  return sum;
}

bool sameWords(const ExactSum &a, const ExactSum &b) { return a.low == b.low && a.high == b.high; }

// The exact total of the values' units, and its nearest float, worked out apart from the sums.
__int128 unitsOf(const std::vector<float> &values) {
  __int128 total = 0;
  for (float v : values)
    total += (__int128)std::nearbyint(double(v) * 4294967296.0);
  return total;
}

float nearestFloat(__int128 units) {
  return float((long double)units) * ek::kExactUnit; // |units| < 2^64: exact as a long double
}

TEST(ExactSums, ValuesBecomeUnitsRoundedToTheNearest) {
  const ExactSum one = ek::toExactUnits(1.0f);
  EXPECT_EQ(one.low, 1ull << 32);
  EXPECT_EQ(one.high, 0u);
  const ExactSum minusOne = ek::toExactUnits(-1.0f);
  EXPECT_EQ(minusOne.low, 0ull - (1ull << 32));
  EXPECT_EQ(minusOne.high, kAllBits);
  EXPECT_EQ(ek::toExactUnits(0x1p-33f).low, 0u) << "half a unit, tie to even";
  EXPECT_EQ(ek::toExactUnits(0x3p-33f).low, 2u) << "one and a half units, tie to even";
  EXPECT_EQ(ek::toExactUnits(0.75f * 0x1p-32f).low, 1u);
  EXPECT_EQ(ek::toExactUnits(0.25f * 0x1p-32f).low, 0u);
  const ExactSum smallNegative = ek::toExactUnits(-0.75f * 0x1p-32f);
  EXPECT_EQ(smallNegative.low, kAllBits);
  EXPECT_EQ(smallNegative.high, kAllBits);
  // A value on the grid of units comes back as itself.
  for (float v : {1.5f, -3.25f, 1024.0f, 0x1p-32f, -0x1p-20f, 123456.789f}) {
    ExactSum sum{0, 0};
    ek::atomicAddExact(&sum, v);
    EXPECT_EQ(ek::exactSumValue(sum), v);
  }
}

TEST(ExactSums, ValuesBeyondTheRangeAreClampedAndNotANumberAddsNothing) {
  for (float v : {1e30f, INFINITY, 2147483648.0f}) {
    ExactSum sum{0, 0};
    ek::atomicAddExact(&sum, v);
    EXPECT_EQ(ek::exactSumValue(sum), ek::kExactValueLimit) << v;
    ExactSum negative{0, 0};
    ek::atomicAddExact(&negative, -v);
    EXPECT_EQ(ek::exactSumValue(negative), -ek::kExactValueLimit) << -v;
  }
  ExactSum sum{0, 0};
  ek::atomicAddExact(&sum, 2.0f);
  ek::atomicAddExact(&sum, NAN);
  EXPECT_EQ(ek::exactSumValue(sum), 2.0f);
}

TEST(ExactSums, CarriesReachTheHighWordAndTotalsNeverWrap) {
  // Four values at the limit pass 2^64 units: the low word wraps, its carry lands in the high.
  const std::vector<float> four(4, ek::kExactValueLimit);
  const ExactSum big = sumOf(four);
  EXPECT_EQ(big.high, 1u);
  EXPECT_EQ(ek::exactSumValue(big), 4.0f * ek::kExactValueLimit);
  // A value and its negation leave both words empty, in either order.
  EXPECT_TRUE(sameWords(sumOf({1.0f, -1.0f}), ExactSum{0, 0}));
  EXPECT_TRUE(sameWords(sumOf({-1.0f, 1.0f}), ExactSum{0, 0}));
  EXPECT_EQ(ek::exactSumValue(sumOf(std::vector<float>(1000, -0.25f))), -250.0f);
  // A million values at either end of the range: far past 2^64 units, and the sign is kept.
  const std::vector<float> many(1 << 20, ek::kExactValueLimit);
  EXPECT_NEAR(ek::exactSumValue(sumOf(many)) / (ek::kExactValueLimit * float(1 << 20)), 1.0, 1e-6);
  std::vector<float> manyNegative(1 << 20, -ek::kExactValueLimit);
  manyNegative.push_back(0.5f);
  EXPECT_NEAR(ek::exactSumValue(sumOf(manyNegative)) / (ek::kExactValueLimit * float(1 << 20)),
              -1.0, 1e-6);
}

TEST(ExactSums, ASumIsRoundedOnceToTheNearestFloat) {
  // Added as floats one after the other, each eighth of a step at 1 would vanish; their exact
  // sum, three quarters of a step, rounds up.
  const std::vector<float> values = {1.0f, 0x1p-25f, 0x1p-25f, 0x1p-25f};
  float floatSum = 0.0f;
  for (float v : values)
    floatSum += v;
  EXPECT_EQ(floatSum, 1.0f);
  EXPECT_EQ(ek::exactSumValue(sumOf(values)), 1.0f + 0x1p-23f);
  // Past 2^31 the value comes through a double, still the nearest float here.
  EXPECT_EQ(ek::exactSumValue(sumOf({ek::kExactValueLimit, ek::kExactValueLimit})),
            2.0f * ek::kExactValueLimit);
}

TEST(ExactSums, TotalsDoNotDependOnTheOrderOrTheThreads) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> exponent(-30.0f, 12.0f);
  std::vector<float> values(40000);
  for (float &v : values)
    v = (random() % 3 == 0 ? -1.0f : 1.0f) * std::exp2(exponent(random));
  const ExactSum inOrder = sumOf(values);
  EXPECT_EQ(ek::exactSumValue(inOrder), nearestFloat(unitsOf(values)));

  std::vector<float> reordered = values;
  std::reverse(reordered.begin(), reordered.end());
  EXPECT_TRUE(sameWords(sumOf(reordered), inOrder)) << "reversed";
  std::shuffle(reordered.begin(), reordered.end(), random);
  EXPECT_TRUE(sameWords(sumOf(reordered), inOrder)) << "shuffled";

  // Four threads adding interleaved values to the same sum at once.
  for (int round = 0; round < 4; ++round) {
    ExactSum shared{0, 0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t)
      threads.emplace_back([&, t] {
        for (size_t i = t; i < values.size(); i += 4)
          ek::atomicAddExact(&shared, values[i]);
      });
    for (std::thread &thread : threads)
      thread.join();
    EXPECT_TRUE(sameWords(shared, inOrder)) << "round " << round;
  }
}

TEST(BoundsBuffers, AMeasureMergesWithWhatTheBuffersHold) {
  float bounds[7] = {1, 2, 3, 4, 5, 6, 0.5f};
  double moments[7] = {10, 20, 30, 100, 200, 300, 5};
  ek::BoundsPartial part = ek::neutralBounds();
  const EKV3 velocity = {0, 0, 2};
  ek::addToBounds(part, {0, 3, 7}, &velocity);
  ek::mergeIntoBoundsBuffers(part, bounds, moments);
  const float expectedBounds[7] = {0, 2, 3, 4, 5, 7, 4};
  const double expectedMoments[7] = {10, 23, 37, 100, 209, 349, 6};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(bounds[i], expectedBounds[i]) << i;
    EXPECT_EQ(moments[i], expectedMoments[i]) << i;
  }
}

} // namespace
