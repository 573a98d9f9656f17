// The scan line blocks of a layered image, encoded a piece of several scan lines at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "image/exr_zip.h"
#include "image/layered_exr_layout.h"

namespace ek::image {

// Number of pieces of the image and the room that any one of them fits in.
std::size_t pieceCount(const LayeredExrLayout &layout);
std::size_t maxPieceBytes(const LayeredExrLayout &layout);
// The line numbers of the piece, [first, end).
std::size_t pieceFirstLine(const LayeredExrLayout &layout, std::size_t piece);
std::size_t pieceEndLine(const LayeredExrLayout &layout, std::size_t piece);

// Converts and compresses pieces into the bytes the file holds: for every block its first line
// number, its data size and its data. One encoder keeps its buffers and its compressor from
// piece to piece; use one per thread.
class PieceEncoder {
public:
  explicit PieceEncoder(const LayeredExrLayout &layout);

  // False when the compressor could not be set up (out of memory).
  bool ready() const { return !zip_ || zip_->ready(); }

  // Encodes piece `index` into `out`, which has room for maxPieceBytes(layout); returns the
  // number of bytes written. Throws std::bad_alloc when a buffer cannot grow.
  std::size_t encode(std::size_t index, uint8_t *out);

private:
  // The pixel data of scan line y: every channel's row in the file's channel order.
  void encodeLine(std::size_t y, uint8_t *out) const;

  const LayeredExrLayout &layout_;
  std::optional<ExrZipCompressor> zip_;
  std::vector<uint8_t> block_; // ZIP: the uncompressed block
};

} // namespace ek::image
