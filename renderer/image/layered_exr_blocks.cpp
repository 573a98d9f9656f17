#include "image/layered_exr_blocks.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "image/exr_header.h"
#include "image/exr_line.h"

namespace ek::image {

namespace {

// `count` floats, `stride` floats apart, as little-endian 32-bit floats.
void encodeFloatValues(const float *values, std::size_t stride, std::size_t count, uint8_t *out) {
  for (std::size_t i = 0; i < count; ++i) {
    storeU32le(out + 4 * i, std::bit_cast<uint32_t>(values[i * stride]));
  }
}

} // namespace

std::size_t pieceCount(const LayeredExrLayout &layout) {
  return (layout.height + layout.linesPerPiece - 1) / layout.linesPerPiece;
}

std::size_t maxPieceBytes(const LayeredExrLayout &layout) {
  const std::size_t lines = std::min(layout.linesPerPiece, layout.height);
  return lines * (kExrBlockPrefix + layout.lineBytes);
}

std::size_t pieceFirstLine(const LayeredExrLayout &layout, std::size_t piece) {
  return piece * layout.linesPerPiece;
}

std::size_t pieceEndLine(const LayeredExrLayout &layout, std::size_t piece) {
  return std::min(pieceFirstLine(layout, piece) + layout.linesPerPiece, layout.height);
}

PieceEncoder::PieceEncoder(const LayeredExrLayout &layout) : layout_(layout) {
  if (layout.compression == ExrCompression::kZip) {
    zip_.emplace();
  }
}

void PieceEncoder::encodeLine(std::size_t y, uint8_t *out) const {
  for (const ExrChannel &channel : layout_.channels) {
    const float *row = channel.pixels + y * channel.rowStride;
    if (channel.type == ExrSampleType::kHalf) {
      encodeHalfValues(row, channel.pixelStride, layout_.width, out);
    } else {
      encodeFloatValues(row, channel.pixelStride, layout_.width, out);
    }
    out += layout_.width * sampleBytes(channel.type);
  }
}

std::size_t PieceEncoder::encode(std::size_t index, uint8_t *out) {
  const std::size_t first = pieceFirstLine(layout_, index);
  const std::size_t end = pieceEndLine(layout_, index);
  const std::size_t lineBytes = layout_.lineBytes;
  if (!zip_) {
    uint8_t *block = out;
    for (std::size_t y = first; y < end; ++y) {
      storeU32le(block, static_cast<uint32_t>(y));
      storeU32le(block + 4, static_cast<uint32_t>(lineBytes));
      encodeLine(y, block + kExrBlockPrefix);
      block += kExrBlockPrefix + lineBytes;
    }
    return static_cast<std::size_t>(block - out);
  }
  const std::size_t rawBytes = (end - first) * lineBytes;
  if (block_.size() < rawBytes) {
    block_.resize(rawBytes);
  }
  for (std::size_t y = first; y < end; ++y) {
    encodeLine(y, block_.data() + (y - first) * lineBytes);
  }
  uint8_t *data = out + kExrBlockPrefix;
  std::size_t dataBytes = zip_->compress(block_.data(), rawBytes, data);
  if (dataBytes == 0) {
    std::memcpy(data, block_.data(), rawBytes);
    dataBytes = rawBytes;
  }
  storeU32le(out, static_cast<uint32_t>(first));
  storeU32le(out + 4, static_cast<uint32_t>(dataBytes));
  return kExrBlockPrefix + dataBytes;
}

} // namespace ek::image
