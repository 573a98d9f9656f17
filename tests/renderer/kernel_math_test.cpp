#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "galaxy_shape.h"
#include "kernels/additive.h"
#include "kernels/galaxy.h"

namespace {

using namespace ek;

// Identity view, square 100 x 100 image, scale 1: the examples worked out by hand below.
ek::Frame identityFrame(int width = 100, int height = 100) {
  ek::Frame f{};
  f.view[0] = f.view[5] = f.view[10] = 1;
  f.scaleX = f.scaleY = 1;
  f.width = width;
  f.height = height;
  f.samples = 1;
  f.nearClip = 0.01f;
  f.topMergeExponent = f.bottomMergeExponent = 1;
  return f;
}

ek::Frame sphericalFrame() {
  ek::Frame f = identityFrame(360, 180);
  f.projection = 1;
  f.lonMin = -3.14159265f;
  f.lonSpan = 2 * 3.14159265f;
  f.latMax = 1.57079633f;
  f.latSpan = 3.14159265f;
  return f;
}

bool project(const ek::Frame &f, EKV3 p, PixelHit &hit, uint32_t state = 0) {
  CameraPoint c;
  return projectSample(f, p, state, hit, c);
}

TEST(Hash, KnownValues) {
  EXPECT_EQ(mix32(0), 0u);
  EXPECT_EQ(mix32(1), 0x688990C0u);
  uint32_t state = 0;
  EXPECT_EQ(nextRandom(state), 0.0077651143f);
  EXPECT_EQ(state, 0x01FCE552u);
  EXPECT_EQ(nextRandom(state), 0.62526673f);
  EXPECT_EQ(state, 0xA0117BE9u);
}

TEST(Hash, DrawsStayBelowOne) {
  uint32_t state = 0xFFFFFFFFu - 0x9E3779B9u; // hashes the largest input
  for (int i = 0; i < 100000; ++i) {
    const float u = nextRandom(state);
    ASSERT_GE(u, 0.0f);
    ASSERT_LT(u, 1.0f);
  }
}

TEST(WorkItems, DecodeIntoParticleCopyAndSample) {
  // repopulation 2 (three copies), 4 samples: 12 items per particle.
  WorkItem w = decodeWorkItem(0, 2, 4);
  EXPECT_EQ(w.particle, 0u);
  EXPECT_EQ(w.copy, 0u);
  EXPECT_EQ(w.sample, 0u);
  w = decodeWorkItem(12 * 7 + 4 * 2 + 3, 2, 4);
  EXPECT_EQ(w.particle, 7u);
  EXPECT_EQ(w.copy, 2u);
  EXPECT_EQ(w.sample, 3u);
  w = decodeWorkItem((uint64_t(5) << 32) * 12 + 5, 2, 4);
  EXPECT_EQ(w.particle, uint64_t(5) << 32);
  EXPECT_EQ(w.copy, 1u);
  EXPECT_EQ(w.sample, 1u);
  // The largest repopulation gives 2^31 copies per particle.
  w = decodeWorkItem((uint64_t(1) << 31) * 3 + 5, INT32_MAX, 1);
  EXPECT_EQ(w.particle, 3u);
  EXPECT_EQ(w.copy, 5u);
  EXPECT_EQ(w.sample, 0u);
}

TEST(Sampling, CopiesIgnoreTheSeedWhileShutterSamplesFollowIt) {
  const EKV3 origin[1] = {{1, 2, 3}};
  const EKV3 velocity[1] = {{4, 0, 0}};
  ek::Frame f = identityFrame();
  f.repopulation = 3;
  f.radius = 0.5f;
  f.samples = 2;
  uint32_t state = 0;
  // Copy 0 is the particle itself, whatever the radius.
  EKV3 p = samplePosition(f, origin, nullptr, {0, 0, 1}, state);
  EXPECT_EQ(p.x, 1.0f);
  EXPECT_EQ(p.z, 3.0f);
  const EKV3 copy = samplePosition(f, origin, nullptr, {0, 2, 0}, state);
  EXPECT_NE(copy.x, 1.0f);
  f.seed = 99;
  const EKV3 sameCopy = samplePosition(f, origin, nullptr, {0, 2, 1}, state);
  EXPECT_EQ(sameCopy.x, copy.x) << "copies do not move with the seed or the sample";
  EXPECT_EQ(sameCopy.y, copy.y);
  EXPECT_EQ(sameCopy.z, copy.z);

  // Velocities without shutter change nothing; with a shutter the time follows the seed.
  p = samplePosition(f, origin, velocity, {0, 0, 0}, state);
  EXPECT_EQ(p.x, 1.0f);
  f.shutter = 1;
  f.seed = 1;
  const EKV3 blurredA = samplePosition(f, origin, velocity, {0, 0, 0}, state);
  f.seed = 2;
  const EKV3 blurredB = samplePosition(f, origin, velocity, {0, 0, 0}, state);
  EXPECT_NE(blurredA.x, blurredB.x);
  EXPECT_LE(std::fabs(blurredA.x - 1.0f), 2.0f) << "the shutter interval is centred on the frame";
  EXPECT_EQ(blurredA.y, 2.0f);
}

TEST(Sampling, ZeroRadiusCopiesCoincide) {
  const EKV3 origin[1] = {{1, 2, 3}};
  ek::Frame f = identityFrame();
  f.repopulation = 5;
  uint32_t state;
  for (uint32_t copy = 0; copy <= 5; ++copy) {
    const EKV3 p = samplePosition(f, origin, nullptr, {0, copy, 0}, state);
    EXPECT_EQ(p.x, 1.0f);
    EXPECT_EQ(p.y, 2.0f);
    EXPECT_EQ(p.z, 3.0f);
  }
}

TEST(Perspective, OrientationAndCulling) {
  const ek::Frame f = identityFrame();
  PixelHit hit;
  ASSERT_TRUE(project(f, {0, 0, -10}, hit));
  EXPECT_EQ(hit.ix, 50);
  EXPECT_EQ(hit.iy, 50);
  EXPECT_EQ(hit.depth, 10.0f);
  ASSERT_TRUE(project(f, {5, 5, -10}, hit));
  EXPECT_EQ(hit.ix, 75);
  EXPECT_EQ(hit.iy, 25) << "+y is up, row 0 is the top";
  EXPECT_FALSE(project(f, {0, 0, -0.01f}, hit)) << "depth equal to the near clip";
  EXPECT_TRUE(project(f, {0, 0, -0.011f}, hit));
  EXPECT_FALSE(project(f, {0, 0, 10}, hit)) << "behind the camera";
  EXPECT_FALSE(project(f, {10, 0, -10}, hit)) << "right edge is outside";
  EXPECT_TRUE(project(f, {-10, 0, -10}, hit)) << "left edge is inside";
  EXPECT_EQ(hit.ix, 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(project(f, {nan, 0, -10}, hit));
  ek::Frame broken = f;
  broken.view[0] = nan;
  EXPECT_FALSE(project(broken, {1, 0, -10}, hit)) << "a degenerate matrix never writes";
}

TEST(Perspective, FocusedPointsStayWhileOthersSpread) {
  ek::Frame f = identityFrame();
  f.apertureRadius = 0.5f;
  f.invFocusDistance = 0.1f;
  PixelHit hit;
  int spread = 0;
  for (uint32_t s = 0; s < 64; ++s) {
    ASSERT_TRUE(project(f, {2, 1, -10}, hit, mix32(s)));
    EXPECT_EQ(hit.ix, 60);
    EXPECT_EQ(hit.iy, 45);
    ASSERT_TRUE(project(f, {0.5f, 0.5f, -3}, hit, mix32(s)));
    spread += hit.ix != 58 || hit.iy != 41;
  }
  EXPECT_GT(spread, 32) << "out-of-focus points move with the lens sample";
}

TEST(Spherical, OrientationWrapAndPoles) {
  ek::Frame f = sphericalFrame();
  PixelHit hit;
  ASSERT_TRUE(project(f, {0, 0, -10}, hit));
  EXPECT_EQ(hit.ix, 180);
  EXPECT_EQ(hit.iy, 90);
  ASSERT_TRUE(project(f, {10, 0, 0}, hit));
  EXPECT_EQ(hit.ix, 270);
  EXPECT_EQ(hit.iy, 90);
  ASSERT_TRUE(project(f, {0, 5, -5}, hit));
  EXPECT_EQ(hit.iy, 45) << "45 degrees up";
  EXPECT_FALSE(project(f, {0, 10, 0}, hit)) << "a point on the vertical axis";
  EXPECT_FALSE(project(f, {0, -10, 0}, hit));

  // Half the circle, from -90 to +90 degrees: just left of -90 wraps and is culled.
  f.lonMin = -1.5707964f;
  f.lonSpan = 3.1415927f;
  EXPECT_FALSE(project(f, {-10, 0, 0.5f}, hit));
  EXPECT_TRUE(project(f, {-10, 0, -0.5f}, hit));
  EXPECT_EQ(hit.ix, 5);
}

TEST(Spherical, StereoEyeShiftsAndCulls) {
  ek::Frame f = sphericalFrame();
  PixelHit mono, left, right;
  ASSERT_TRUE(project(f, {0, 0, -2}, mono));
  f.eyeOffset = 0.5f;
  ASSERT_TRUE(project(f, {0, 0, -2}, right));
  f.eyeOffset = -0.5f;
  ASSERT_TRUE(project(f, {0, 0, -2}, left));
  EXPECT_LT(right.ix, mono.ix) << "the right eye sees a point ahead further left";
  EXPECT_GT(left.ix, mono.ix);
  EXPECT_NEAR(mono.ix - right.ix, left.ix - mono.ix, 1) << "the eyes shift symmetrically";
  f.eyeOffset = 3;
  EXPECT_FALSE(project(f, {0, 0, -2}, right)) << "inside the eye circle";
}

TEST(Spherical, PoleMergeFadesTheEyeOffset) {
  ek::Frame f = sphericalFrame();
  f.eyeOffset = 0.2f;
  const CameraPoint level{0, 0, -1}, high{0, 10, -1}, top{0, 1, 0}, low{0, -1, -1};
  EXPECT_EQ(poleMergeFade(f, high, 1), 1.0f) << "no fading with both modes 0";
  f.topMergeMode = 1;
  f.topMergeAngle = kHalfPi;
  EXPECT_FLOAT_EQ(poleMergeFade(f, level, 1), 1.0f);
  EXPECT_NEAR(poleMergeFade(f, high, 1), 1.0f - std::atan2(10.0f, 1.0f) / kHalfPi, 1e-6f);
  EXPECT_NEAR(poleMergeFade(f, top, 0), 0.0f, 1e-6f) << "linear to 0 at the pole";
  EXPECT_EQ(poleMergeFade(f, low, 1), 1.0f) << "the south pole has its own mode";
  f.topMergeMode = 2;
  f.topMergeExponent = 2;
  const float linear = 1.0f - std::atan2(10.0f, 1.0f) / kHalfPi;
  EXPECT_NEAR(poleMergeFade(f, high, 1), linear * linear, 1e-6f);
}

TEST(Resolve, ExposureCurveAndAlpha) {
  const Rgba32f v = resolveValue({0.5f, 1.0f, 2.0f, 0.25f}, 1.0f);
  EXPECT_FLOAT_EQ(v.r, 1.0f - std::exp(-0.5f));
  EXPECT_FLOAT_EQ(v.b, 1.0f - std::exp(-2.0f));
  EXPECT_EQ(v.a, v.b) << "alpha is raised to the brightest colour";
  const Rgba32f none = resolveValue({0, 0, 0, 0}, 1.0f);
  EXPECT_EQ(none.r, 0.0f);
  EXPECT_EQ(none.a, 0.0f);
  const Rgba32f dark = resolveValue({3, 3, 3, 3}, 0.0f);
  EXPECT_EQ(dark.g, 0.0f);
  EXPECT_EQ(dark.a, 0.0f);
  const Rgba32f bright = resolveValue({1e30f, 1e30f, 1e30f, 1e30f}, 1.0f);
  EXPECT_LE(bright.r, 1.0f);
  EXPECT_EQ(gammaByte(bright.r), 255);

  EXPECT_EQ(gammaByte(0.0f), 0);
  EXPECT_EQ(gammaByte(1.0f), 255);
  EXPECT_EQ(gammaByte(0.5f), 186);
  EXPECT_EQ(gammaByte(-0.5f), 0) << "negative values give not-a-number, then 0";
  EXPECT_EQ(gammaByte(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(gammaByte(-std::numeric_limits<float>::infinity()), 255) << "saturates";
}

TEST(Galaxy, ParticlesDependOnSeedAndWholeIndexOnly) {
  std::vector<EKV3> positions;
  std::vector<Rgba8> colors;
  for (uint64_t i = 0; i < 20000; ++i) {
    const GalaxyParticle p = galaxyParticle(i, 42);
    positions.push_back(p.position);
    colors.push_back(p.color);
  }
  ek::test::expectGalaxyShape(positions, colors);
  for (uint64_t i : {uint64_t(0), uint64_t(12345)}) {
    const GalaxyParticle a = galaxyParticle(i, 42);
    EXPECT_EQ(galaxyParticle(i, 42).position.x, a.position.x);
    EXPECT_NE(galaxyParticle(i, 43).position.x, a.position.x);
    EXPECT_NE(galaxyParticle(i + (uint64_t(1) << 33), 42).position.x, a.position.x)
        << "the high half of the index counts";
  }
}

} // namespace
