// How a layered image is laid out in its file, worked out once its description has been checked.
#pragma once

#include <cstddef>
#include <vector>

#include "image/layered_exr.h"

namespace ek::image {

struct LayeredExrLayout {
  std::size_t width = 0;
  std::size_t height = 0;
  // The channels in the file's order (sorted by name), with rowStride filled in.
  std::vector<ExrChannel> channels;
  // Bytes of one scan line's pixel data: every channel's row, one after another.
  std::size_t lineBytes = 0;
  ExrCompression compression = ExrCompression::kZip;
  // Scan lines per block (16 with ZIP, 1 without; the last block may hold fewer) and blocks in
  // the file.
  std::size_t linesPerBlock = 1;
  std::size_t blockCount = 0;
  // Scan lines that are encoded and written together: one ZIP block, or without compression as
  // many blocks as fill about a megabyte (at least one).
  std::size_t linesPerPiece = 1;
  // Some name is longer than 31 bytes: the file says so in its version field.
  bool longNames = false;
};

// Checks the image's sizes, channels and names against the format's limits and the address
// space and gives its layout, or a result with the status and text of the first problem.
LayeredExrResult layOutLayeredExr(const LayeredExrImage &image, LayeredExrLayout &layout);

// Bytes of one stored sample of the type.
inline std::size_t sampleBytes(ExrSampleType type) { return type == ExrSampleType::kHalf ? 2 : 4; }

} // namespace ek::image
