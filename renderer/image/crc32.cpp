#include "image/crc32.h"

#include <array>

namespace ek::image {

namespace {

// tables[0] is the byte-at-a-time table; tables[k][n] is the CRC register after n was shifted
// through k further zero bytes. With them eight bytes are folded into the register per step
// (slicing by eight): each byte looks up the effect it has on the register eight minus its
// position bytes later, and the effects are combined by exclusive or.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables buildTables() {
  constexpr uint32_t kPolynomial = 0xEDB88320u;
  CrcTables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1u) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
    }
    tables[0][n] = c;
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (uint32_t n = 0; n < 256; ++n) {
      const uint32_t previous = tables[k - 1][n];
      tables[k][n] = tables[0][previous & 0xFFu] ^ (previous >> 8);
    }
  }
  return tables;
}

// One set of tables for the process, filled on first use; the initialisation of a function-local
// static is thread-safe, and the tables are only read afterwards.
const CrcTables &crcTables() {
  static const CrcTables tables = buildTables();
  return tables;
}

inline uint32_t loadLe32(const uint8_t *p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

} // namespace

uint32_t crc32Update(uint32_t state, const uint8_t *data, std::size_t size) {
  const CrcTables &t = crcTables();
  for (; size >= 8; size -= 8, data += 8) {
    const uint32_t low = loadLe32(data) ^ state;
    const uint32_t high = loadLe32(data + 4);
    state = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
            t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
            t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
  }
  for (; size > 0; --size, ++data) {
    state = t[0][(state ^ *data) & 0xFFu] ^ (state >> 8);
  }
  return state;
}

} // namespace ek::image
