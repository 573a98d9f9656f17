#include "image/crc32.h"

#include <array>

namespace ek::image {

namespace {

using CrcTable = std::array<uint32_t, 256>;

CrcTable buildTable() {
  constexpr uint32_t kPolynomial = 0xEDB88320u;
  CrcTable table{};
  for (uint32_t n = 0; n < table.size(); ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) {
      c = (c & 1u) != 0 ? kPolynomial ^ (c >> 1) : c >> 1;
    }
    table[n] = c;
  }
  return table;
}

// One table for the process, filled on first use; the initialisation of a function-local static
// is thread-safe, and the table is only read afterwards.
const CrcTable &crcTable() {
  static const CrcTable table = buildTable();
  return table;
}

} // namespace

uint32_t crc32Update(uint32_t state, const uint8_t *data, std::size_t size) {
  const CrcTable &table = crcTable();
  for (std::size_t i = 0; i < size; ++i) {
    state = table[(state ^ data[i]) & 0xFFu] ^ (state >> 8);
  }
  return state;
}

} // namespace ek::image
