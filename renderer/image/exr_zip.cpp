#include "image/exr_zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace ek::image {

namespace {

// Writes the block's even bytes, then its odd bytes, each as the difference to the byte written
// before it plus 128; the first byte stays as it is.
void splitAndPredict(const uint8_t *block, std::size_t size, uint8_t *out) {
  const std::size_t evens = (size + 1) / 2;
  out[0] = block[0];
  for (std::size_t i = 1; i < evens; ++i) {
    out[i] = static_cast<uint8_t>(block[2 * i] - block[2 * i - 2] + 128);
  }
  if (size < 2) {
    return;
  }
  uint8_t *odd = out + evens;
  odd[0] = static_cast<uint8_t>(block[1] - block[2 * evens - 2] + 128);
  for (std::size_t i = 1; i < size / 2; ++i) {
    odd[i] = static_cast<uint8_t>(block[2 * i + 1] - block[2 * i - 1] + 128);
  }
}

} // namespace

ExrZipCompressor::ExrZipCompressor() : stream_(std::make_unique<z_stream>()) {
  ready_ = deflateInit(stream_.get(), kExrZipLevel) == Z_OK;
}

ExrZipCompressor::~ExrZipCompressor() {
  if (ready_) {
    deflateEnd(stream_.get());
  }
}

std::size_t ExrZipCompressor::compress(const uint8_t *block, std::size_t size, uint8_t *out) {
  if (size == 0) {
    return 0;
  }
  if (predicted_.size() < size) {
    predicted_.resize(size);
  }
  splitAndPredict(block, size, predicted_.data());
  if (size == previousSize_ && std::memcmp(predicted_.data(), previous_.data(), size) == 0) {
    std::copy(previousStream_.begin(), previousStream_.end(), out);
    return previousStream_.size();
  }
  z_stream &stream = *stream_;
  deflateReset(&stream);
  stream.next_in = predicted_.data();
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out;
  stream.avail_out = static_cast<uInt>(size);
  // Anything but the stream's end means the output did not fit in the block's own size.
  const bool smaller = deflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out < size;
  const std::size_t compressed = smaller ? static_cast<std::size_t>(stream.total_out) : 0;
  previousSize_ = 0; // until the copy below is complete
  previousStream_.assign(out, out + compressed);
  std::swap(predicted_, previous_);
  previousSize_ = size;
  return compressed;
}

} // namespace ek::image
