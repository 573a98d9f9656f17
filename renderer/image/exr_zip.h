// ZIP compression of OpenEXR scan line blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct z_stream_s;

namespace ek::image {

// zlib level of the blocks, the one the OpenEXR library uses: on a layered 1080p render, levels 1
// to 3 are 25 to 45 % faster but give files 5 to 10 % larger, level 6 is 1.5 times slower for a
// file 2 % smaller.
constexpr int kExrZipLevel = 4;

// Compresses blocks the way the format's ZIP method reads them back: the block's bytes are split
// into those at even and those at odd positions (even ones first), each byte is replaced by its
// difference to the one before plus 128 (modulo 256), and the result becomes one zlib stream.
// One compressor keeps its zlib state and buffers from block to block; use one per thread. A
// block equal to the one compressed before it (a render's empty rows, which cost zlib as much
// time as busy ones) is not compressed again: zlib gives the same bytes for the same input.
class ExrZipCompressor {
public:
  ExrZipCompressor();
  ~ExrZipCompressor();
  ExrZipCompressor(const ExrZipCompressor &) = delete;
  ExrZipCompressor &operator=(const ExrZipCompressor &) = delete;

  // False when zlib could not be set up (out of memory); compress must not be called then.
  bool ready() const { return ready_; }

  // Compresses the `size` bytes of one block's pixel data (at most 2^31 - 1) into `out`, which
  // has room for `size` bytes. Returns the compressed size, or 0 when the compressed data would
  // not be smaller than the block: the format then stores the block's bytes as they are.
  // Throws std::bad_alloc when its buffer cannot grow.
  std::size_t compress(const uint8_t *block, std::size_t size, uint8_t *out);

private:
  std::unique_ptr<z_stream_s> stream_;
  bool ready_ = false;
  std::vector<uint8_t> predicted_;
  // The previous block after the predictor, its size (0: none yet) and its compressed bytes
  // (empty when it was stored as it is).
  std::vector<uint8_t> previous_;
  std::size_t previousSize_ = 0;
  std::vector<uint8_t> previousStream_;
};

} // namespace ek::image
