// Exact sums of floats gathered by many threads at once, for the GPU's volumetric shading: each
// value becomes a whole number of units of 2^-32, and a sum is a 128-bit two's-complement integer
// held in two 64-bit words, added with integer atomics. Integer addition is exact and does not
// depend on its order, so a sum comes out the same to the bit on every run, however the threads
// interleave; it turns into the nearest float once, after the last addition.
//
// Range: a value is clamped to less than 2^31 in magnitude (2^63 units), and not-a-number adds
// nothing. A sum of at most 2^64 such values (more than any render has work items) stays below
// 2^127 units in magnitude, so the 128-bit total never wraps; its resolution, 2^-32 (2.3e-10), is
// finer than a float's step on any sum above 2^-9.
#pragma once

#include "kernels/ek_hd.h"

namespace ek {

// A sum's two words: low holds the units modulo 2^64, high the multiples of 2^64 (negative sums
// have every bit of high set and more). unsigned long long: the type of CUDA's 64-bit atomics.
struct alignas(16) ExactSum {
  unsigned long long low;
  unsigned long long high;
};

constexpr float kExactUnitsPerOne = 4294967296.0f; // 2^32
constexpr float kExactUnit = 1.0f / kExactUnitsPerOne;
// The largest magnitude a value keeps: the largest float below 2^31.
constexpr float kExactValueLimit = 2147483520.0f;

// A value in units, rounded to the nearest (ties to even), as the two words to add; a value of
// magnitude kExactValueLimit or more is clamped there, not-a-number is 0.
EK_HD ExactSum toExactUnits(float value) {
  if (!(value == value))
    return {0, 0};
  const float clamped = minNumber(maxNumber(value, -kExactValueLimit), kExactValueLimit);
  // Scaling by a power of two is exact; rintf rounds what lies below a unit.
  const long long units = (long long)(rintf(clamped * kExactUnitsPerOne));
  return {(unsigned long long)(units), units < 0 ? ~0ull : 0ull};
}

// 64-bit atomic addition that returns the word as it was.
EK_HD unsigned long long atomicAddWord(unsigned long long *address, unsigned long long value) {
#if defined(__CUDA_ARCH__)
  return atomicAdd(address, value);
#elif __cplusplus >= 202002L
  return std::atomic_ref<unsigned long long>(*address).fetch_add(value, std::memory_order_relaxed);
#elif defined(_MSC_VER)
  return (unsigned long long)(_InterlockedExchangeAdd64(
      reinterpret_cast<volatile long long *>(address), (long long)(value)));
#else
  return __atomic_fetch_add(address, value, __ATOMIC_RELAXED);
#endif
}

// Adds a value to a sum, atomically: the low word first, then whatever reaches the high word,
// its own part and the carry out of the low word. The high word receives, over all additions,
// its parts and one carry per time the low word passed 2^64, in whatever order they come, so the
// two words end as the exact total.
EK_HD void atomicAddExact(ExactSum *sum, float value) {
  const ExactSum units = toExactUnits(value);
  if (units.low == 0 && units.high == 0)
    return;
  const unsigned long long before = atomicAddWord(&sum->low, units.low);
  const unsigned long long carry = before + units.low < before ? 1ull : 0ull;
  const unsigned long long high = units.high + carry;
  if (high != 0)
    atomicAddWord(&sum->high, high);
}

// The float nearest to a sum. A sum that fits 64 bits (below 2^31 in magnitude) is rounded once,
// from the exact integer; a larger one through a double.
EK_HD float exactSumValue(const ExactSum &sum) {
  const long long low = (long long)(sum.low);
  if (sum.high == (low < 0 ? ~0ull : 0ull))
    return float(low) * kExactUnit;
  const double units = double((long long)(sum.high)) * 18446744073709551616.0 + double(sum.low);
  return float(units * double(kExactUnit));
}

} // namespace ek
