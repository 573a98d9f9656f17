#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "kernels/depth_moments.h"

namespace {

using Samples = std::vector<std::pair<float, float>>; // normalised depth, weight

// The depth in front of which the fraction q of the samples' weight lies, as the moment sums of
// the samples give it.
float fromMoments(const Samples &samples, float q) {
  float weight = 0, sums[ek::kDepthMomentFloats] = {};
  for (const auto &[u, w] : samples) {
    float terms[ek::kDepthMomentFloats];
    ek::depthMomentTerms(u, w, terms);
    weight += w;
    for (int k = 0; k < ek::kDepthMomentFloats; ++k)
      sums[k] += terms[k];
  }
  return ek::depthAtFraction(weight, sums, q);
}

// `count` samples of weight w spread evenly over [from, to].
void addEven(Samples &samples, int count, float from, float to, float w) {
  for (int i = 0; i < count; ++i)
    samples.push_back({from + (to - from) * (float(i) + 0.5f) / float(count), w});
}

// One or two thin clouds come back exactly, whatever their weights: the fraction falls in the
// front cloud up to its share of the weight, in the back one beyond.
TEST(DepthMoments, ThinCloudsAreExact) {
  EXPECT_NEAR(fromMoments({{0.3f, 2.0f}}, 0.2f), 0.3f, 1e-5f);
  for (const float front : {0.9f, 0.5f, 0.1f}) {
    SCOPED_TRACE("front share " + std::to_string(front));
    Samples two;
    for (int i = 0; i < 50; ++i) { // many samples, as a pixel gathers them
      two.push_back({-0.6f, front / 50});
      two.push_back({0.5f, (1 - front) / 50});
    }
    for (const float q : {0.05f, 0.3f, 0.5f}) {
      const float expected = q <= front ? -0.6f : 0.5f;
      EXPECT_NEAR(fromMoments(two, q), expected, 2e-3f) << "q " << q;
    }
  }
  EXPECT_NEAR(fromMoments({{-1.0f, 3.0f}, {1.0f, 0.01f}}, 0.3f), -1.0f, 2e-3f);
}

// One cloud spread evenly over a depth range gives the fraction's depth along it exactly, and
// so does a thick cloud cut off by the range's end.
TEST(DepthMoments, EvenCloudIsExact) {
  Samples even;
  addEven(even, 2000, -0.8f, 0.4f, 1.0f);
  for (const float q : {0.05f, 0.25f, 0.5f})
    EXPECT_NEAR(fromMoments(even, q), -0.8f + 1.2f * q, 2e-3f) << "q " << q;
  Samples all;
  addEven(all, 2000, -1.0f, 1.0f, 0.5f);
  EXPECT_NEAR(fromMoments(all, 0.4f), -0.2f, 2e-3f);
}

// Spreads that four moments cannot tell apart from two clumps come out approximately: three
// equal thin clouds at -0.8, 0 and 0.8 within 0.3 (15 % of the range), a bell-shaped cloud
// within 0.05.
TEST(DepthMoments, OtherSpreadsAreClose) {
  const Samples three = {{-0.8f, 1.0f}, {0.0f, 1.0f}, {0.8f, 1.0f}};
  EXPECT_NEAR(fromMoments(three, 0.2f), -0.8f, 0.3f);
  EXPECT_NEAR(fromMoments(three, 0.5f), 0.0f, 0.3f);
  Samples bell;
  for (int i = 0; i < 20; ++i) // weights 1, 2, ..., 10, ..., 2, 1 over [-0.5, 0.5]
    bell.push_back({-0.5f + float(i) / 19.0f, float(i < 10 ? i + 1 : 20 - i)});
  float gathered = 0, total = 0, expected = 0;
  for (const auto &[u, w] : bell)
    total += w;
  for (const auto &[u, w] : bell)
    if ((gathered += w) >= 0.25f * total) {
      expected = u;
      break;
    }
  EXPECT_NEAR(fromMoments(bell, 0.25f), expected, 0.05f);
}

} // namespace
