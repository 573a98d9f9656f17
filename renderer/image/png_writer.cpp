// ekSavePNG: float RGBA images as RGBA PNG files, 8 or 16 bits per channel, with a gAMA chunk. The
// file (signature, IHDR, gAMA, one IDAT holding the complete zlib stream, IEND) is written from
// memory in three pieces, the middle one the compressor's own output, under a temporary name that
// replaces the target only once the file is complete.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "emberkit.h"
#include "image/byte_writer.h"
#include "image/crc32.h"
#include "image/png_encode.h"
#include "image/save_call.h"
#include "image/zlib_stream.h"
#include "platform/replacing_file.h"

namespace ek::image {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint8_t kColourTypeRgba = 6;
constexpr uint8_t kCompressionDeflate = 0;
constexpr uint8_t kFilterAdaptive = 0;
constexpr uint8_t kNoInterlace = 0;
constexpr uint32_t kGamma = 45455; // 1/2.2 × 100000, rounded
// Appends a chunk: data length, type letters, data and the CRC of type and data.
void appendChunk(ByteWriter &out, std::vector<uint8_t> &file, const char *type, const uint8_t *data,
                 std::size_t size) {
  out.u32be(static_cast<uint32_t>(size));
  const std::size_t typeStart = file.size();
  out.text(type);
  out.bytes(data, size);
  out.u32be(crc32(file.data() + typeStart, file.size() - typeStart));
}

// Returns 0 or the system's error number of the failure.
int writePng(const char *path, int32_t width, int32_t height, const float *rgba, bool sixteenBit) {
  // The compressor takes the filtered image in one piece; larger images are refused before any
  // work is done.
  if (!pngSizeSupported(width, height, sixteenBit)) {
    return EFBIG;
  }

  std::size_t streamSize = 0;
  ZlibStream stream;
  {
    const std::unique_ptr<uint8_t[]> filtered = filterPngImage(rgba, width, height, sixteenBit);
    stream = zlibCompress(filtered.get(), pngFilteredSize(width, height, sixteenBit), &streamSize);
  }
  if (stream == nullptr) {
    return ENOMEM;
  }

  // The compressed stream is written from where the compressor left it: the file is the bytes
  // before it (signature, IHDR, gAMA, the IDAT chunk's length and type), the stream, and the
  // bytes after it (the IDAT chunk's CRC, IEND).
  std::vector<uint8_t> head;
  ByteWriter out(head);
  out.bytes(kSignature, sizeof kSignature);

  std::vector<uint8_t> header;
  ByteWriter headerOut(header);
  headerOut.u32be(static_cast<uint32_t>(width));
  headerOut.u32be(static_cast<uint32_t>(height));
  headerOut.u8(sixteenBit ? 16 : 8);
  headerOut.u8(kColourTypeRgba);
  headerOut.u8(kCompressionDeflate);
  headerOut.u8(kFilterAdaptive);
  headerOut.u8(kNoInterlace);
  appendChunk(out, head, "IHDR", header.data(), header.size());

  const uint8_t gamma[4] = {static_cast<uint8_t>(kGamma >> 24), static_cast<uint8_t>(kGamma >> 16),
                            static_cast<uint8_t>(kGamma >> 8), static_cast<uint8_t>(kGamma)};
  appendChunk(out, head, "gAMA", gamma, sizeof gamma);

  out.u32be(static_cast<uint32_t>(streamSize));
  out.text("IDAT");
  const uint32_t idatCrc = crc32End(crc32Update(
      crc32Update(crc32Begin(), head.data() + head.size() - 4, 4), stream.get(), streamSize));
  std::vector<uint8_t> tail;
  ByteWriter tailOut(tail);
  tailOut.u32be(idatCrc);
  appendChunk(tailOut, tail, "IEND", nullptr, 0);

  platform::ReplacingFile output;
  if (const int error = output.open(path)) {
    return error;
  }
  for (const auto &[data, size] :
       {std::pair<const uint8_t *, std::size_t>{head.data(), head.size()},
        {stream.get(), streamSize},
        {tail.data(), tail.size()}}) {
    if (const int error = output.write(data, size)) {
      return error;
    }
  }
  return output.commit();
}

} // namespace

} // namespace ek::image

extern "C" EK_API int32_t ekSavePNG(const char *path, int32_t width, int32_t height,
                                    const float *rgba, int32_t sixteenBit) {
  return ek::image::runSave(path, width, height, rgba, [&] {
    return ek::image::writePng(path, width, height, rgba, sixteenBit != 0);
  });
}

extern "C" EK_API int32_t ekPngSizeSupported(int32_t width, int32_t height, int32_t sixteenBit) {
  return width >= 1 && height >= 1 && ek::image::pngSizeSupported(width, height, sixteenBit != 0);
}
