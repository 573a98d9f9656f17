// Writing render layers as one multi-layer OpenEXR file: single part, scan lines, any number of
// named channels, each stored as half or float, ZIP-compressed by default.
//
// Channel names follow the compositors' convention: the beauty's "R", "G", "B", "A" and the depth
// "Z" have no layer, other channels are "<layer>.<channel>" ("forward.u", "light1.R"). The file
// lists its channels sorted by name (bytes compared as unsigned), as the format requires, so the
// single-letter beauty channels come before every layer whose name starts with a lower-case letter
// and readers show them as the default layer. Blender reads "<layer>.R/G/B/A" as named passes and
// a bare "Z" as its Depth pass, and ignores a channel whose part after the last dot is longer than
// one letter for its colour passes; that is Blender's rule, not the format's, and this writer
// does not enforce it (vector passes such as "forward.u" are read by name).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ek::image {

// How a channel's samples are stored in the file; the caller's data is always float.
enum class ExrSampleType {
  kHalf,  // 16-bit half float, rounded to nearest even; beyond 65504 becomes infinity
  kFloat, // 32-bit float, exactly as given
};

enum class ExrCompression {
  kNone, // one block per scan line, the pixel data as it is
  kZip,  // blocks of 16 scan lines, each one zlib stream (the format's ZIP method)
};

// One channel: its name and where its values are. The value of pixel (x, y), with y = 0 the top
// row, is pixels[y * rowStride + x * pixelStride]. The data is only read.
struct ExrChannel {
  // 1 to 255 bytes, none of them NUL, unique within the image (see the file comment for the
  // names readers expect).
  std::string name;
  ExrSampleType type = ExrSampleType::kHalf;
  // The value of the top-left pixel.
  const float *pixels = nullptr;
  // Floats from one pixel to its right-hand neighbour: 1 for a plane of its own, 4 for one
  // component of interleaved RGBA.
  std::size_t pixelStride = 1;
  // Floats from one row to the next; 0 means width × pixelStride (rows packed one after another).
  std::size_t rowStride = 0;
};

// The CIE xy coordinates of the image's red, green and blue primaries and of its white point
// (OpenEXR's "chromaticities" attribute). Without it readers assume Rec. 709 primaries with a D65
// white.
struct ExrChromaticities {
  float redX = 0.64f, redY = 0.33f;
  float greenX = 0.30f, greenY = 0.60f;
  float blueX = 0.15f, blueY = 0.06f;
  float whiteX = 0.3127f, whiteY = 0.3290f;
};

// A 4 × 4 matrix in OpenEXR's order (Imath's M44f): element [row * 4 + column], applied to points
// as row vectors (p' = p × M), so a translation sits in elements 12, 13 and 14.
using ExrMatrix = std::array<float, 16>;

struct LayeredExrImage {
  // In pixels, 1 to 2^31 - 1 each (the format's limit). A block of scan lines (16 with ZIP, 1
  // without) must also hold less than 2^31 bytes of pixel data.
  int32_t width = 0;
  int32_t height = 0;
  // At least one channel, in any order.
  std::vector<ExrChannel> channels;
  ExrCompression compression = ExrCompression::kZip;
  // Written as the attribute "chromaticities" when set.
  std::optional<ExrChromaticities> chromaticities;
  // The camera that rendered the image, written as the standard attributes "worldToCamera" and
  // "worldToNDC" (type m44f) when set.
  std::optional<ExrMatrix> worldToCamera;
  std::optional<ExrMatrix> worldToNDC;
  // Threads that convert and compress blocks while the calling thread writes them: 0 for one per
  // processor core, 1 to do everything on the calling thread.
  unsigned threads = 0;
};

enum class LayeredExrStatus {
  kOk,
  kInvalidImage, // a size below 1, no channels, a missing data pointer, a bad or repeated name
  kTooLarge,     // beyond the format's limits or the address space
  kOutOfMemory,
  kFileError, // the file could not be created, written (a full disk) or put in place
};

struct LayeredExrResult {
  LayeredExrStatus status = LayeredExrStatus::kOk;
  // For kFileError the system's error number (errno: ENOSPC, EACCES, ...), else 0.
  int systemError = 0;
  // What went wrong, in one line naming the channel or the file; empty when the file was written.
  std::string message;

  bool ok() const { return status == LayeredExrStatus::kOk; }
};

// Writes `image` to the file at the NUL-terminated UTF-8 path. The file is written under a
// temporary name in the target's folder and replaces the target only once it is complete: on any
// failure a previous file at the path is left as it was and no temporary file remains. Checks
// the whole image before it creates anything. The line offset table near the file's start is
// written last, so a target that is written in place and cannot seek (a pipe) fails with
// ESPIPE. Never throws.
LayeredExrResult writeLayeredExr(const char *utf8Path, const LayeredExrImage &image);

// The channels "R", "G", "B" and "A" of an interleaved float RGBA image (four floats per pixel,
// rows packed), stored as `type`: the beauty of a layered file, without copying it.
std::vector<ExrChannel> rgbaChannels(const float *rgba, ExrSampleType type);

} // namespace ek::image
