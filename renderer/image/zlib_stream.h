// zlib compression of the PNG writer's filtered image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace ek::image {

struct FreeDeleter {
  void operator()(uint8_t *p) const { std::free(p); }
};
using ZlibStream = std::unique_ptr<uint8_t[], FreeDeleter>;

// Compression level handed to the compressor.
constexpr int kZlibQuality = 8;

// Largest input accepted by zlibCompress. The compressor keeps its output in a buffer whose
// capacity doubles in signed 32-bit arithmetic; the largest capacity it reaches without overflow
// is 1 610 612 735 bytes, and its fixed Huffman code spends at most 9 bits on an input byte. Inputs
// up to this size therefore stay well inside that capacity.
constexpr std::size_t kMaxZlibInput = 1400000000;

// Compresses `size` bytes into one complete zlib stream (header, deflate data, Adler-32) with the
// stb_image_write compressor at kZlibQuality. Returns null, with *streamSize 0, when the input is
// larger than kMaxZlibInput or the compressor fails (out of memory).
ZlibStream zlibCompress(const uint8_t *data, std::size_t size, std::size_t *streamSize);

} // namespace ek::image
