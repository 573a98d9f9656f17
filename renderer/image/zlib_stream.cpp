#include "image/zlib_stream.h"

// The compressor's implementation is compiled into this file only (every stb function static);
// only stbi_zlib_compress is used.
#include "stb_image_write_static.h"

namespace ek::image {

ZlibStream zlibCompress(const uint8_t *data, std::size_t size, std::size_t *streamSize) {
  *streamSize = 0;
  if (size > kMaxZlibInput) {
    return nullptr;
  }
  int length = 0;
  // The compressor does not modify its input; its parameter is merely not const.
  ZlibStream stream(stbi_zlib_compress(const_cast<uint8_t *>(data), static_cast<int>(size), &length,
                                       kZlibQuality));
  if (stream == nullptr || length <= 0) {
    return nullptr;
  }
  *streamSize = static_cast<std::size_t>(length);
  return stream;
}

} // namespace ek::image
