// Hands out the vectorised paths. The AVX2 files are compiled only where SLEEF and GCC-style
// target flags exist (EK_HAS_AVX2_KERNELS); this file itself is compiled for the baseline
// processor, so it runs anywhere.
#include "cpu/cpu_vector_paths.h"

#if EK_HAS_AVX2_KERNELS
#include "cpu/cpu_avx2.h"
#endif

namespace ek {

VectorPaths vectorPathsFor([[maybe_unused]] const CpuFeatures &features) {
  VectorPaths paths;
#if EK_HAS_AVX2_KERNELS
  if (features.avx2Fma) {
    paths.resolve = resolveRangeAvx2;
    paths.resolveVol = resolveVolRangeAvx2;
    paths.placeSamples = placeSamplesAvx2;
    paths.sineCosine = sineCosineAvx2;
    if (gammaTableUsable())
      paths.gammaBytes = gammaBytesAvx2;
  }
#endif
  return paths;
}

} // namespace ek
