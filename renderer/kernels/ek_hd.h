// Marks the kernel math that both backends compile: host-and-device functions under nvcc, plain
// inline functions in the C++ build (forced inline there, since the CPU backend's loops depend on
// the item functions melting into them).
#pragma once

#include <math.h>
#include <stdint.h>
#include <string.h>
#if !defined(__CUDA_ARCH__) && __cplusplus >= 202002L
#include <atomic>
#elif !defined(__CUDA_ARCH__) && defined(_MSC_VER)
#include <intrin.h>
#endif

#if defined(__CUDACC__)
#define EK_HD __host__ __device__ __forceinline__
#elif defined(__GNUC__)
#define EK_HD inline __attribute__((always_inline))
#else
#define EK_HD inline
#endif

// Asks the compiler to unroll the loop that follows by 16.
#if defined(__CUDACC__)
#define EK_UNROLL_16 _Pragma("unroll 16")
#elif defined(__GNUC__) && !defined(__clang__)
#define EK_UNROLL_16 _Pragma("GCC unroll 16")
#else
#define EK_UNROLL_16
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

EK_HD float minNumber(float a, float b) {
#if defined(__CUDA_ARCH__)
  return fminf(a, b);
#else
  return (a < b || b != b) ? a : b;
#endif
}

// Atomic float addition into shared memory: atomicAdd on the device, a compare-and-swap loop on
// the host.
EK_HD void atomicAddFloat(float *address, float value) {
#if defined(__CUDA_ARCH__)
  atomicAdd(address, value);
#elif __cplusplus >= 202002L
  std::atomic_ref<float>(*address).fetch_add(value, std::memory_order_relaxed);
#elif defined(_MSC_VER)
  // Microsoft's compiler as the host compiler of a C++17 unit (nvcc's host pass on Windows) has
  // no __atomic built-ins; its interlocked intrinsic makes the same exchange.
  volatile long *bits = reinterpret_cast<volatile long *>(address);
  long expected = *bits;
  for (;;) {
    float current;
    memcpy(&current, &expected, sizeof current);
    const float next = current + value;
    long desired;
    memcpy(&desired, &next, sizeof desired);
    const long previous = _InterlockedCompareExchange(bits, desired, expected);
    if (previous == expected)
      return;
    expected = previous;
  }
#else
  uint32_t *bits = reinterpret_cast<uint32_t *>(address);
  uint32_t expected = __atomic_load_n(bits, __ATOMIC_RELAXED);
  for (;;) {
    float current;
    memcpy(&current, &expected, sizeof current);
    const float next = current + value;
    uint32_t desired;
    memcpy(&desired, &next, sizeof desired);
    if (__atomic_compare_exchange_n(bits, &expected, desired, true, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED))
      return;
  }
#endif
}

// min(a + b, limit) without wrapping, for a and b at most limit.
EK_HD uint32_t saturatingAdd(uint32_t a, uint32_t b, uint32_t limit) {
  return a > limit - b ? limit : a + b;
}

// Atomic saturating addition: the cell becomes min(sum of all additions, limit), for a cell and
// additions at most limit. For additions that are never negative that result does not depend on
// their order, so sums made by many threads at once come out the same on every run.
EK_HD void atomicSaturatingAdd(uint32_t *address, uint32_t value, uint32_t limit) {
#if defined(__CUDA_ARCH__)
  uint32_t seen = *address;
  while (seen != limit) {
    const uint32_t before = atomicCAS(address, seen, saturatingAdd(seen, value, limit));
    if (before == seen)
      return;
    seen = before;
  }
#elif __cplusplus >= 202002L
  std::atomic_ref<uint32_t> cell(*address);
  uint32_t seen = cell.load(std::memory_order_relaxed);
  while (seen != limit && !cell.compare_exchange_weak(seen, saturatingAdd(seen, value, limit),
                                                      std::memory_order_relaxed)) {
  }
#elif defined(_MSC_VER)
  volatile long *bits = reinterpret_cast<volatile long *>(address);
  long seen = *bits;
  while (uint32_t(seen) != limit) {
    const long next = long(saturatingAdd(uint32_t(seen), value, limit));
    const long before = _InterlockedCompareExchange(bits, next, seen);
    if (before == seen)
      return;
    seen = before;
  }
#else
  uint32_t seen = __atomic_load_n(address, __ATOMIC_RELAXED);
  while (seen != limit &&
         !__atomic_compare_exchange_n(address, &seen, saturatingAdd(seen, value, limit), true,
                                      __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
  }
#endif
}

} // namespace ek
