// ekSaveEXR: float RGBA images as single-part, uncompressed scan-line OpenEXR files with four
// half-float channels A, B, G, R. The header is built in memory; the pixels are converted and
// written one scan line at a time through a single line buffer, into a temporary file that replaces
// the target only once it is complete.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "emberkit.h"
#include "image/byte_writer.h"
#include "image/exr_line.h"
#include "platform/replacing_file.h"

namespace ek::image {

namespace {

constexpr uint8_t kMagic[4] = {0x76, 0x2F, 0x31, 0x01};
constexpr uint32_t kVersion = 2; // single part, scan lines, short names
constexpr int32_t kPixelTypeHalf = 1;
constexpr uint8_t kNoCompression = 0;
constexpr uint8_t kIncreasingY = 0;
constexpr std::size_t kChannels = 4;
constexpr std::size_t kBytesPerHalf = 2;
constexpr std::size_t kBlockPrefix = 8; // line number and data size, i32 each
constexpr std::size_t kStreamBufferSize = std::size_t{1} << 20;

void storeU32le(uint8_t *out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

// Appends one attribute: name, type name, value size and the value bytes.
void appendAttribute(ByteWriter &out, const char *name, const char *type,
                     const std::vector<uint8_t> &value) {
  out.textz(name);
  out.textz(type);
  out.i32le(static_cast<int32_t>(value.size()));
  out.bytes(value);
}

std::vector<uint8_t> channelList() {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  for (const char *name : {"A", "B", "G", "R"}) { // alphabetical, as the format requires
    out.textz(name);
    out.i32le(kPixelTypeHalf);
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

std::vector<uint8_t> box(int32_t width, int32_t height) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  out.i32le(0);
  out.i32le(0);
  out.i32le(width - 1);
  out.i32le(height - 1);
  return value;
}

std::vector<uint8_t> singleByte(uint8_t byte) { return std::vector<uint8_t>{byte}; }

std::vector<uint8_t> floats(std::initializer_list<float> values) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  for (float v : values) {
    out.f32le(v);
  }
  return value;
}

// Magic number, version, header and line offset table.
std::vector<uint8_t> buildHeader(int32_t width, int32_t height, uint64_t blockSize) {
  std::vector<uint8_t> header;
  ByteWriter out(header);
  out.bytes(kMagic, sizeof kMagic);
  out.u32le(kVersion);
  appendAttribute(out, "channels", "chlist", channelList());
  appendAttribute(out, "compression", "compression", singleByte(kNoCompression));
  appendAttribute(out, "dataWindow", "box2i", box(width, height));
  appendAttribute(out, "displayWindow", "box2i", box(width, height));
  appendAttribute(out, "lineOrder", "lineOrder", singleByte(kIncreasingY));
  appendAttribute(out, "pixelAspectRatio", "float", floats({1.0f}));
  appendAttribute(out, "screenWindowCenter", "v2f", floats({0.0f, 0.0f}));
  appendAttribute(out, "screenWindowWidth", "float", floats({1.0f}));
  out.u8(0); // end of header

  const uint64_t rows = static_cast<uint64_t>(height);
  const uint64_t firstBlock = out.size() + rows * sizeof(uint64_t);
  header.reserve(header.size() + rows * sizeof(uint64_t));
  for (uint64_t y = 0; y < rows; ++y) {
    out.u64le(firstBlock + y * blockSize);
  }
  return header;
}

// Returns 0 or the system's error number of the failure.
int writeExr(const char *path, int32_t width, int32_t height, const float *rgba) {
  const std::size_t columns = static_cast<std::size_t>(width);
  const uint64_t dataSize = static_cast<uint64_t>(columns) * kChannels * kBytesPerHalf;
  // The block's data size is a signed 32-bit field.
  if (dataSize > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return EFBIG;
  }
  const std::size_t blockSize = kBlockPrefix + static_cast<std::size_t>(dataSize);

  // Everything is allocated before the file is opened, so running out of memory leaves no file.
  const std::vector<uint8_t> header = buildHeader(width, height, blockSize);
  const auto block = std::make_unique_for_overwrite<uint8_t[]>(blockSize);

  // Scan line blocks are small; collecting them in a larger stream buffer saves one system call per
  // line, which costs more than converting the line. The buffer must outlive the file.
  const auto streamBuffer = std::make_unique_for_overwrite<char[]>(kStreamBufferSize);

  platform::ReplacingFile file;
  if (const int error = file.open(path)) {
    return error;
  }
  std::setvbuf(file.stream(), streamBuffer.get(), _IOFBF, kStreamBufferSize);
  int error = file.write(header.data(), header.size());
  const std::size_t rowFloats = columns * kChannels;
  const float *row = rgba;
  for (int32_t y = 0; error == 0 && y < height; ++y) {
    storeU32le(block.get(), static_cast<uint32_t>(y));
    storeU32le(block.get() + 4, static_cast<uint32_t>(dataSize));
    encodeExrLine(row, columns, block.get() + kBlockPrefix);
    error = file.write(block.get(), blockSize);
    row += rowFloats;
  }
  // A failed write leaves the temporary file to the destructor, which removes it.
  return error != 0 ? error : file.commit();
}

} // namespace

} // namespace ek::image

extern "C" EK_API int32_t ekSaveEXR(const char *path, int32_t width, int32_t height,
                                    const float *rgba) {
  int error = EINVAL;
  if (path != nullptr && rgba != nullptr && width >= 1 && height >= 1) {
    try {
      error = ek::image::writeExr(path, width, height, rgba);
    } catch (...) {
      error = ENOMEM;
    }
  }
  if (error == 0) {
    return 0;
  }
  errno = error;
  return 1;
}
