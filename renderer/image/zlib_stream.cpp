#include "image/zlib_stream.h"

// The compressor's implementation is compiled into this file only, with every stb function static:
// the library exports no stb symbol and cannot clash with another copy of stb in the same process.
// Only stbi_zlib_compress is used; the file writers are left out.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#elif defined(_MSC_VER)
#pragma warning(push, 0)
#endif
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#elif defined(_MSC_VER)
#pragma warning(pop)
#endif

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
