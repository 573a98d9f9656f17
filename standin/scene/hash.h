// Seeded hashing for the particle simulation: the same inputs give the same draws everywhere.
#pragma once

#include <cstdint>

namespace standin {

// A 32-bit integer finaliser with good avalanche behaviour.
inline uint32_t hash32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

inline uint32_t hashCombine(uint32_t seed, uint32_t value) {
  return hash32(seed ^ (value + 0x9e3779b9U + (seed << 6) + (seed >> 2)));
}

// Uniform draw in [0, 1) from the hash of (seed, a, b, c, channel).
inline double uniform(uint32_t seed, uint32_t a, uint32_t b, uint32_t c, uint32_t channel) {
  uint32_t h = hashCombine(hashCombine(hashCombine(hashCombine(hash32(seed), a), b), c), channel);
  return double(h >> 8) * (1.0 / 16777216.0);
}

} // namespace standin
