// Marks the kernel math that both backends compile: host-and-device functions under nvcc, plain
// inline functions in the C++ build (forced inline there, since the CPU backend's loops depend on
// the item functions melting into them).
#pragma once

#include <math.h>

#if defined(__CUDACC__)
#define EK_HD __host__ __device__ __forceinline__
#elif defined(__GNUC__)
#define EK_HD inline __attribute__((always_inline))
#else
#define EK_HD inline
#endif

namespace ek {

// fmaxf: the larger of two numbers, and the number when the other is not-a-number. Written out
// for the host, where the library call would not be inlined.
EK_HD float maxNumber(float a, float b) {
#if defined(__CUDA_ARCH__)
  return fmaxf(a, b);
#else
  return (a > b || b != b) ? a : b;
#endif
}

} // namespace ek
