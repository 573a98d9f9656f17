// CRC-32 of PNG chunks (ISO 3309 / ITU-T V.42: reflected polynomial 0xEDB88320, register preset to
// 0xFFFFFFFF, result complemented), computed eight bytes at a time through eight 256-entry tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ek::image {

// Continues a CRC over more bytes: start with crc32Begin(), feed the data in any number of pieces
// and finish with crc32End().
constexpr uint32_t crc32Begin() { return 0xFFFFFFFFu; }
uint32_t crc32Update(uint32_t state, const uint8_t *data, std::size_t size);
constexpr uint32_t crc32End(uint32_t state) { return state ^ 0xFFFFFFFFu; }

// CRC of one piece of data.
inline uint32_t crc32(const uint8_t *data, std::size_t size) {
  return crc32End(crc32Update(crc32Begin(), data, size));
}

} // namespace ek::image
