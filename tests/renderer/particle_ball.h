// A dense ball of particles of radius 5 around the origin, uploaded to a context: the volumetric
// tests' usual cloud.
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "emberkit.h"

namespace ek::test {

inline std::vector<EKV3> ballPositions(int count) {
  std::mt19937 random(3);
  std::uniform_real_distribution<float> uniform(-5, 5);
  std::vector<EKV3> positions;
  while (int(positions.size()) < count) {
    const EKV3 p{uniform(random), uniform(random), uniform(random)};
    if (p.x * p.x + p.y * p.y + p.z * p.z <= 25)
      positions.push_back(p);
  }
  return positions;
}

inline void uploadBall(EKContext *context, int count) {
  const std::vector<EKV3> positions = ballPositions(count);
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, positions.size(), 0), 0);
}

} // namespace ek::test
