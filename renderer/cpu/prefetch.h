// Cache hints of the CPU passes: ask for the line holding an address ahead of its use, so that the
// misses of many independent samples overlap instead of stalling one after the other.
#pragma once

#if defined(_MSC_VER) && !defined(__clang__) && (defined(_M_X64) || defined(_M_IX86))
#include <xmmintrin.h>
#endif

namespace ek {

// Ahead of a read.
inline void prefetch(const void *address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#elif defined(_M_X64) || defined(_M_IX86)
  _mm_prefetch(static_cast<const char *>(address), _MM_HINT_T0);
#else
  (void)address;
#endif
}

// Ahead of a write.
inline void prefetchForWrite(const void *address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address, 1);
#elif defined(_M_X64) || defined(_M_IX86)
  _mm_prefetch(static_cast<const char *>(address), _MM_HINT_T0);
#else
  (void)address;
#endif
}

} // namespace ek
