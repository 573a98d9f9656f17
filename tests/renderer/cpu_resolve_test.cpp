#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "kernels/volume.h"
#if EK_HAS_RESOLVE_AVX2
#include "device/cpu_resolve_avx2.h"
#endif

namespace {

// The vectorised resolves against the shared scalar item functions, on ordinary values and on
// every awkward one.
TEST(VectorisedResolve, AgreesWithTheItemFunctions) {
#if !EK_HAS_RESOLVE_AVX2
  GTEST_SKIP() << "built without the vectorised resolve";
#else
  if (!ek::canResolveAvx2())
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

} // namespace
