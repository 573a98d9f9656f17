#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "cpu/cpu_work_items.h"
#include "cpu/spatial_order.h"

namespace {

// Sorted in parts, one per worker, the order must be the same whatever the number of workers.
TEST(SpatialOrder, IsAPermutationThatKeepsNeighboursTogether) {
  ek::WorkerPool pool(3), alone(1);
  std::mt19937 random(1);
  std::uniform_real_distribution<float> uniform(-50, 50);
  std::vector<EKV3> positions(20000);
  for (EKV3 &p : positions)
    p = {uniform(random), uniform(random), uniform(random)};
  positions[7] = positions[3]; // equal codes keep their index order
  const float lo[3] = {-50, -50, -50}, hi[3] = {50, 50, 50};
  ek::SpatialOrder spatial, single;
  // Built twice, with fewer particles first: kept buffers must not leak into the second order.
  spatial.build(pool, positions.data(), 1001, lo, hi);
  spatial.build(pool, positions.data(), uint32_t(positions.size()), lo, hi);
  single.build(alone, positions.data(), uint32_t(positions.size()), lo, hi);
  const std::vector<uint32_t> order(spatial.order().begin(), spatial.order().end());
  EXPECT_EQ(order, std::vector<uint32_t>(single.order().begin(), single.order().end()));
  std::vector<uint32_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (uint32_t i = 0; i < sorted.size(); ++i)
    ASSERT_EQ(sorted[i], i);
  EXPECT_LT(std::find(order.begin(), order.end(), 3u), std::find(order.begin(), order.end(), 7u));
  // Consecutive particles of the order lie close together: far closer than random pairs.
  auto distance = [&](uint32_t a, uint32_t b) {
    const float dx = positions[a].x - positions[b].x, dy = positions[a].y - positions[b].y,
                dz = positions[a].z - positions[b].z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
  };
  double ordered = 0, unordered = 0;
  for (uint32_t i = 1; i < order.size(); ++i) {
    ordered += distance(order[i - 1], order[i]);
    unordered += distance(i - 1, i);
  }
  EXPECT_LT(ordered * 5, unordered);
}

// With fewer particles than a part per worker, the last parts have no codes: their counts must
// not carry over from one digit's pass to the next.
TEST(SpatialOrder, FewerParticlesThanPartsGiveTheSingleWorkerOrder) {
  ek::WorkerPool many(8), alone(1);
  std::mt19937 random(2);
  std::uniform_real_distribution<float> uniform(-1, 1);
  std::vector<EKV3> positions(21);
  for (EKV3 &p : positions)
    p = {uniform(random), uniform(random), uniform(random)};
  const float lo[3] = {-1, -1, -1}, hi[3] = {1, 1, 1};
  for (uint32_t count : {1u, 2u, 3u, 9u, 10u, 21u}) {
    ek::SpatialOrder spread, single;
    spread.build(many, positions.data(), count, lo, hi);
    single.build(alone, positions.data(), count, lo, hi);
    EXPECT_EQ(std::vector<uint32_t>(spread.order().begin(), spread.order().end()),
              std::vector<uint32_t>(single.order().begin(), single.order().end()))
        << count << " particles";
  }
}

TEST(WorkItemWalk, MatchesDecodingAndMapsParticlesThroughTheOrder) {
  const uint32_t order[4] = {2, 0, 3, 1};
  std::vector<ek::WorkItem> seen;
  ek::forEachWorkItem(2, 3, 5, 30, order, [&](const ek::WorkItem &w, bool first) {
    EXPECT_EQ(first, seen.empty());
    seen.push_back(w);
  });
  ASSERT_EQ(seen.size(), 25u);
  for (uint64_t item = 5; item < 30; ++item) {
    const ek::WorkItem expected = ek::decodeWorkItem(item, 2, 3);
    const ek::WorkItem &got = seen[item - 5];
    EXPECT_EQ(got.particle, order[expected.particle]) << item;
    EXPECT_EQ(got.copy, expected.copy) << item;
    EXPECT_EQ(got.sample, expected.sample) << item;
  }
}

} // namespace
