// Appending fixed-size numbers to a byte buffer in a chosen byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace ek::image {

class ByteWriter {
public:
  explicit ByteWriter(std::vector<uint8_t> &bytes) : bytes_(bytes) {}

  void u8(uint32_t value) { bytes_.push_back(static_cast<uint8_t>(value)); }

  void u32le(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
      u8(value >> shift);
    }
  }
  void i32le(int32_t value) { u32le(static_cast<uint32_t>(value)); }
  void u64le(uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) {
      u8(static_cast<uint32_t>(value >> shift));
    }
  }
  void f32le(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    u32le(bits);
  }

  void u32be(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      u8(value >> shift);
    }
  }

  // The characters of `text`, without a terminator.
  void text(std::string_view text) {
    bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
  }
  // The characters of `text` and a NUL byte.
  void textz(std::string_view text) {
    this->text(text);
    u8(0);
  }
  void bytes(const uint8_t *data, std::size_t size) {
    if (size == 0) {
      return;
    }
    const std::size_t start = bytes_.size();
    bytes_.resize(start + size);
    std::memcpy(bytes_.data() + start, data, size);
  }
  void bytes(const std::vector<uint8_t> &data) { bytes(data.data(), data.size()); }

  std::size_t size() const { return bytes_.size(); }

private:
  std::vector<uint8_t> &bytes_;
};

} // namespace ek::image
