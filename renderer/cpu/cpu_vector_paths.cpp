// Hands out the vectorised paths. The AVX2 files are compiled only where SLEEF and GCC-style
// target flags exist (EK_HAS_AVX2_KERNELS); this file itself is compiled for the baseline
// processor, so it runs anywhere.
#include "cpu/cpu_vector_paths.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/sampling.h"

#if EK_HAS_AVX2_KERNELS
#include "cpu/cpu_avx2.h"
#endif

namespace ek {

bool sineCosineMatchesCLibrary(decltype(VectorPaths::sineCosine) sineCosine) {
  // Every 4093rd of the 2^24 draws that nextRandom gives, made into angles as projectPerspective
  // makes them: all four quadrants, and far more angles than a C library that works otherwise
  // could get right by chance.
  constexpr uint32_t kAngles = 4096, kStride = 4093;
  std::vector<float> angles(kAngles), sine(kAngles), cosine(kAngles);
  for (uint32_t i = 0; i < kAngles; ++i)
    angles[i] = kTwoPi * (float(i * kStride) * kRandomScale);
  sineCosine(angles.data(), sine.data(), cosine.data(), kAngles);
  for (uint32_t i = 0; i < kAngles; ++i) {
    const float expectedSine = sinf(angles[i]), expectedCosine = cosf(angles[i]);
    if (std::memcmp(&sine[i], &expectedSine, sizeof(float)) != 0 ||
        std::memcmp(&cosine[i], &expectedCosine, sizeof(float)) != 0)
      return false;
  }
  return true;
}

bool exponentialMatchesCLibrary(decltype(VectorPaths::exponential) exponential) {
  // Every 65,537th bit pattern (all exponents, both signs, infinities and not-a-numbers among
  // them), and two values where expf worked out without a fused remainder is one float off.
  std::vector<float> values;
  for (uint64_t bits = 0; bits <= UINT32_MAX; bits += 65537) {
    const uint32_t pattern = uint32_t(bits);
    float value;
    std::memcpy(&value, &pattern, sizeof value);
    values.push_back(value);
  }
  values.push_back(-0x1.f8cbb2p+5f);
  values.push_back(0x1.04845ep+5f);
  values.resize((values.size() + 7) / 8 * 8, 0.0f);
  std::vector<float> results(values.size());
  exponential(values.data(), results.data(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const float expected = expf(values[i]);
    if (std::memcmp(&results[i], &expected, sizeof(float)) != 0)
      return false;
  }
  return true;
}

VectorPaths vectorPathsFor([[maybe_unused]] const CpuFeatures &features) {
  VectorPaths paths;
#if EK_HAS_AVX2_KERNELS
  if (features.avx2Fma) {
    paths.resolve = resolveRangeAvx2;
    paths.resolveVol = resolveVolRangeAvx2;
    paths.sineCosine = sineCosineAvx2;
    paths.placeLightSamples = placeLightSamplesAvx2;
    paths.placeCameraSamples = placeCameraSamplesAvx2;
    paths.exponential = exponentialAvx2;
    static const bool sameExponentials = exponentialMatchesCLibrary(exponentialAvx2);
    if (sameExponentials)
      paths.shadeSamples = shadeSamplesAvx2;
    // Checked once per process: the C library does not change while it runs.
    static const bool sameAngles = sineCosineMatchesCLibrary(sineCosineAvx2);
    if (sameAngles)
      paths.placeSamples = placeSamplesAvx2;
    if (gammaTableUsable())
      paths.gammaBytes = gammaBytesAvx2;
  }
#endif
  return paths;
}

} // namespace ek
