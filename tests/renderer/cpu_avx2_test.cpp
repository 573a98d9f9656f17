#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "frame_builder.h"
#include "kernels/volume.h"
#if EK_HAS_AVX2_KERNELS
#include "device/cpu_avx2.h"
#endif

namespace {

// The vectorised resolves against the shared scalar item functions, on ordinary values and on
// every awkward one.
TEST(VectorisedResolve, AgreesWithTheItemFunctions) {
#if !EK_HAS_AVX2_KERNELS
  GTEST_SKIP() << "built without the vectorised resolve";
#else
  if (!ek::canUseAvx2())
    GTEST_SKIP() << "this processor has no AVX2";
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 random(4);
  std::uniform_real_distribution<float> uniform(0.0f, 3.0f);
  const int pixels = 1001; // odd: the last pixel takes the scalar tail
  std::vector<Rgba32f> accumulator(pixels);
  std::vector<float> totals(pixels);
  for (int i = 0; i < pixels; ++i) {
    accumulator[i] = {uniform(random), uniform(random), uniform(random), uniform(random)};
    totals[i] = uniform(random);
    if (i % 7 == 0)
      accumulator[i] = {0, 0, 0, 0};
    if (i % 11 == 0)
      totals[i] = 0;
  }
  accumulator[3] = {nan, 0.5f, 0, 0};
  accumulator[5] = {inf, -1.0f, 1e30f, -inf};
  accumulator[9] = {-0.0f, 0.0f, -0.0f, 0.0f};
  totals[5] = inf;

  for (float exposure : {1.0f, 0.0f, 2.5f, -1.0f}) {
    for (bool volumetric : {false, true}) {
      std::vector<Rgba8> scalarBytes(pixels), vectorBytes(pixels);
      std::vector<Rgba32f> scalarFloats(pixels), vectorFloats(pixels);
      for (int i = 0; i < pixels; ++i) {
        if (volumetric)
          ek::resolveVolPixel(accumulator.data(), totals.data(), scalarBytes.data(),
                              scalarFloats.data(), i, exposure);
        else
          ek::resolvePixel(accumulator.data(), scalarBytes.data(), scalarFloats.data(), i,
                           exposure);
      }
      if (volumetric)
        ek::resolveVolRangeAvx2({accumulator.data(), totals.data(), vectorBytes.data(),
                                 vectorFloats.data(), pixels, exposure},
                                0, pixels);
      else
        ek::resolveRangeAvx2(
            {accumulator.data(), vectorBytes.data(), vectorFloats.data(), pixels, exposure}, 0,
            pixels);
      for (int i = 0; i < pixels; ++i) {
        const float *s = &scalarFloats[i].r;
        const float *v = &vectorFloats[i].r;
        const uint8_t *sb = &scalarBytes[i].r;
        const uint8_t *vb = &vectorBytes[i].r;
        for (int c = 0; c < 4; ++c) {
          if (std::isnan(s[c]) || std::isinf(s[c]))
            ASSERT_EQ(std::isnan(v[c]) ? 0.0f : v[c], std::isnan(s[c]) ? 0.0f : s[c])
                << i << " " << c;
          else
            ASSERT_NEAR(v[c], s[c], 1e-6f * std::max(1.0f, std::fabs(s[c]))) << i << " " << c;
          ASSERT_LE(std::abs(int(vb[c]) - int(sb[c])), 1) << i << " " << c;
        }
        ASSERT_EQ(vb[3], 255);
      }
    }
  }
#endif
}

// Samples placed eight at a time against splatWorkItem, item by item. Without a lens nothing
// transcendental is involved and the two must agree exactly; with one, SLEEF's sine and cosine
// may move a rare sample across a pixel edge.
TEST(VectorisedSamples, AgreeWithTheItemFunction) {
#if !EK_HAS_AVX2_KERNELS
  GTEST_SKIP() << "built without the vectorised paths";
#else
  if (!ek::canUseAvx2())
    GTEST_SKIP() << "this processor has no AVX2";
  std::mt19937 random(8);
  std::uniform_real_distribution<float> uniform(-20.0f, 20.0f);
  const int particles = 3000;
  std::vector<EKV3> positions(particles), velocities(particles);
  std::vector<Rgba8> colors(particles, Rgba8{200, 100, 50, 255});
  for (int i = 0; i < particles; ++i) {
    positions[i] = {uniform(random), uniform(random), uniform(random) - 30.0f};
    velocities[i] = {uniform(random) * 0.1f, uniform(random) * 0.1f, uniform(random) * 0.1f};
  }
  positions[5] = {0, 0, 0}; // at the camera: culled by the near plane
  EKCamera camera{};
  camera.target = {0, 0, -1};
  camera.up = {0, 1, 0};
  camera.fovY = 50;
  EKRenderSettings settings{};
  settings.width = 320;
  settings.height = 200;
  settings.brightness = 1;
  settings.repopulation = 2;
  settings.radius = 0.7f;
  settings.samples = 3;
  settings.shutter = 1.5f;
  settings.seed = 77;

  for (bool lens : {false, true}) {
    camera.aperture = lens ? 0.8f : 0.0f;
    camera.focusDistance = lens ? 25.0f : 0.0f;
    const EKFrame f = ek::buildFrame(camera, settings);
    int mismatches = 0, hits = 0;
    const uint64_t total = uint64_t(particles) * 3 * 3;
    for (uint64_t first = 0; first < total; first += 8) {
      ek::SampleLanes lanes{};
      const uint32_t count = uint32_t(std::min<uint64_t>(8, total - first));
      for (uint32_t lane = 0; lane < count; ++lane) {
        const ek::WorkItem w = ek::decodeWorkItem(first + lane, f.repopulation, f.samples);
        EKV3 p = positions[w.particle];
        if (w.copy > 0) {
          const EKV3 o = ek::repopulationOffset(w.particle, w.copy, f.radius);
          p = {p.x + o.x, p.y + o.y, p.z + o.z};
        }
        lanes.particleLow[lane] = uint32_t(w.particle);
        lanes.copy[lane] = w.copy;
        lanes.sample[lane] = w.sample;
        lanes.x[lane] = p.x;
        lanes.y[lane] = p.y;
        lanes.z[lane] = p.z;
        lanes.vx[lane] = velocities[w.particle].x;
        lanes.vy[lane] = velocities[w.particle].y;
        lanes.vz[lane] = velocities[w.particle].z;
      }
      uint32_t pixel[8];
      const uint32_t mask = ek::placeSamplesAvx2(f, true, lanes, count, pixel);
      for (uint32_t lane = 0; lane < count; ++lane) {
        ek::SplatSample expected;
        const bool hit = ek::splatSample(f, positions.data(), colors.data(), velocities.data(),
                                         first + lane, expected);
        const bool vectorHit = (mask >> lane) & 1u;
        hits += hit;
        if (!lens) {
          ASSERT_EQ(vectorHit, hit) << "item " << first + lane;
          if (hit) {
            ASSERT_EQ(pixel[lane], expected.pixel) << "item " << first + lane;
          }
        }
        mismatches += vectorHit != hit || (hit && pixel[lane] != expected.pixel);
      }
    }
    EXPECT_GT(hits, int(total / 3)) << "most samples land in the image";
    EXPECT_LE(mismatches, int(total / 500)) << (lens ? "with" : "without") << " a lens";
  }
#endif
}

} // namespace
