// Hands out the vectorised paths. The AVX2 files are compiled only where SLEEF and GCC-style
// target flags exist (EK_HAS_AVX2_KERNELS); this file itself is compiled for the baseline
// processor, so it runs anywhere.
#include "cpu/cpu_vector_paths.h"

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

VectorPaths vectorPathsFor([[maybe_unused]] const CpuFeatures &features) {
  VectorPaths paths;
#if EK_HAS_AVX2_KERNELS
  if (features.avx2Fma) {
    paths.resolve = resolveRangeAvx2;
    paths.resolveVol = resolveVolRangeAvx2;
    paths.sineCosine = sineCosineAvx2;
    paths.placeLightSamples = placeLightSamplesAvx2;
    paths.placeCameraSamples = placeCameraSamplesAvx2;
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
