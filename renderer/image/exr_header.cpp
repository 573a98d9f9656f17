#include "image/exr_header.h"

#include <initializer_list>

namespace ek::image {

namespace {

constexpr uint8_t kIncreasingY = 0;

std::vector<uint8_t> box(int32_t width, int32_t height) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  out.i32le(0);
  out.i32le(0);
  out.i32le(width - 1);
  out.i32le(height - 1);
  return value;
}

std::vector<uint8_t> floats(std::initializer_list<float> values) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  for (float v : values) {
    out.f32le(v);
  }
  return value;
}

} // namespace

void storeU32le(uint8_t *out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

void appendExrAttribute(ByteWriter &out, std::string_view name, std::string_view type,
                        const std::vector<uint8_t> &value) {
  out.textz(name);
  out.textz(type);
  out.i32le(static_cast<int32_t>(value.size()));
  out.bytes(value);
}

std::vector<uint8_t> exrChannelList(const std::vector<ExrChannelEntry> &channels) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  for (const ExrChannelEntry &channel : channels) {
    out.textz(channel.name);
    out.i32le(channel.pixelType);
    out.u8(0); // pLinear
    out.u8(0); // reserved
    out.u8(0);
    out.u8(0);
    out.i32le(1); // x sampling
    out.i32le(1); // y sampling
  }
  out.u8(0);
  return value;
}

void appendExrImageAttributes(ByteWriter &out, int32_t width, int32_t height, uint8_t compression) {
  appendExrAttribute(out, "compression", "compression", {compression});
  appendExrAttribute(out, "dataWindow", "box2i", box(width, height));
  appendExrAttribute(out, "displayWindow", "box2i", box(width, height));
  appendExrAttribute(out, "lineOrder", "lineOrder", {kIncreasingY});
  appendExrAttribute(out, "pixelAspectRatio", "float", floats({1.0f}));
  appendExrAttribute(out, "screenWindowCenter", "v2f", floats({0.0f, 0.0f}));
  appendExrAttribute(out, "screenWindowWidth", "float", floats({1.0f}));
}

} // namespace ek::image
