// What a test cloud must look like, checked from its particles alone: the procedural galaxy draws
// a radius r = 100 u^1.7 (u uniform), puts the particle on one of three arms at angle
// k 2 pi / 3 + 0.06 r, spreads it in the disc by a Gaussian of deviation 2 + 0.12 r and in height
// by one of deviation 1.5 + 6 exp(-0.08 r), and colours it by t = r / 100 from (1, 0.75, 0.45) to
// (0.45, 0.6, 1) in bytes truncated from 255 x the value. The radius is read back from the red
// byte, which fixes t to an interval 1 / (0.55 x 255) wide.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "emberkit.h"
#include "kernels/frame.h"

namespace ek::test {

struct RadiusRange {
  double low, high; // r lies in [low, high]
};

// The radii whose colour byte is `red`, slightly widened for the float arithmetic of the colour.
inline RadiusRange radiusFromRed(uint8_t red) {
  constexpr double kSlack = 1e-4;
  const double high = (1.0 - red / 255.0) / 0.55;
  const double low = (1.0 - (red + 1) / 255.0) / 0.55;
  return {std::max(low - kSlack, 0.0) * 100, std::min(high + kSlack, 1.0) * 100};
}

// The byte 255 x value truncated, for every value the radii of `range` give to a channel.
inline bool byteFits(uint8_t byte, double start, double slope, const RadiusRange &range) {
  const double a = (start + slope * range.low / 100) * 255;
  const double b = (start + slope * range.high / 100) * 255;
  return byte >= std::floor(std::min(a, b)) && byte <= std::floor(std::max(a, b));
}

inline void expectGalaxyShape(const std::vector<EKV3> &positions,
                              const std::vector<Rgba8> &colors) {
  ASSERT_EQ(positions.size(), colors.size());
  const double n = double(positions.size());
  ASSERT_GE(n, 20000) << "the tolerances below assume at least 20000 particles";
  constexpr double kTwoPi = 6.283185307179586;
  // The radius distribution: P(r <= R) = (R / 100)^(1 / 1.7).
  const std::array<double, 3> probes = {10, 30, 60};
  std::array<double, 3> surelyBelow{}, surelyAbove{};
  std::array<double, 3> arms{};
  double outerSpread = 0, outerCount = 0, height = 0;
  int badColours = 0;
  for (size_t i = 0; i < positions.size(); ++i) {
    const Rgba8 c = colors[i];
    const RadiusRange r = radiusFromRed(c.r);
    badColours += c.a != 255 || !byteFits(c.g, 0.75, -0.15, r) || !byteFits(c.b, 0.45, 0.55, r);
    for (size_t k = 0; k < probes.size(); ++k) {
      surelyBelow[k] += r.high < probes[k];
      surelyAbove[k] += r.low > probes[k];
    }
    const double radius = 0.5 * (r.low + r.high);
    const EKV3 p = positions[i];
    height += std::pow(p.y / (1.5 + 6 * std::exp(-0.08 * radius)), 2);
    // Far out the arms lie far apart compared with their spread, so the nearest arm centre is the
    // particle's own; its offset over the deviation is a 2D standard Gaussian (mean square 2).
    if (radius < 40)
      continue;
    double nearest = 1e30;
    int arm = 0;
    for (int k = 0; k < 3; ++k) {
      const double theta = k * kTwoPi / 3 + 0.06 * radius;
      const double d2 =
          std::pow(p.x - radius * std::cos(theta), 2) + std::pow(p.z - radius * std::sin(theta), 2);
      if (d2 < nearest) {
        nearest = d2;
        arm = k;
      }
    }
    arms[arm] += 1;
    outerSpread += nearest / std::pow(2 + 0.12 * radius, 2);
    outerCount += 1;
  }
  EXPECT_EQ(badColours, 0) << "colours that no single radius gives";
  // With n >= 20000 a fraction's standard deviation is below 0.004, the mean square of a standard
  // Gaussian's 0.01, and that of the outer offsets (a third of the cloud) 0.025.
  for (size_t k = 0; k < probes.size(); ++k) {
    const double expected = std::pow(probes[k] / 100, 1 / 1.7);
    EXPECT_LE(surelyBelow[k] / n, expected + 0.02) << "radius " << probes[k];
    EXPECT_GE(1 - surelyAbove[k] / n, expected - 0.02) << "radius " << probes[k];
  }
  EXPECT_NEAR(height / n, 1.0, 0.035) << "height over its deviation: a standard Gaussian";
  ASSERT_GT(outerCount, 0.3 * n);
  EXPECT_NEAR(outerSpread / outerCount, 2.0, 0.12) << "offset from the arm over its spread";
  for (double count : arms)
    EXPECT_NEAR(count / outerCount, 1.0 / 3, 0.03) << "three equal arms";
}

} // namespace ek::test
