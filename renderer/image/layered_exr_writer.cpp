// writeLayeredExr: the header is built in memory and written with a line offset table of zeros;
// the blocks follow in line order as worker threads convert and compress them, and the table is
// written over the zeros once every block's place is known.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "image/byte_writer.h"
#include "image/exr_header.h"
#include "image/layered_exr.h"
#include "image/layered_exr_blocks.h"
#include "image/layered_exr_layout.h"
#include "image/layered_exr_queue.h"
#include "platform/replacing_file.h"

namespace ek::image {

namespace {

constexpr const char *kOutOfMemory = "out of memory";

std::vector<uint8_t> floatValues(const float *values, std::size_t count) {
  std::vector<uint8_t> value;
  ByteWriter out(value);
  for (std::size_t i = 0; i < count; ++i) {
    out.f32le(values[i]);
  }
  return value;
}

// Magic number, version and header, up to the line offset table.
std::vector<uint8_t> buildHeader(const LayeredExrImage &image, const LayeredExrLayout &layout) {
  std::vector<ExrChannelEntry> entries;
  for (const ExrChannel &channel : layout.channels) {
    entries.push_back({channel.name, channel.type == ExrSampleType::kHalf ? kExrPixelTypeHalf
                                                                          : kExrPixelTypeFloat});
  }
  std::vector<uint8_t> header;
  ByteWriter out(header);
  out.bytes(kExrMagic, sizeof kExrMagic);
  out.u32le(kExrVersion | (layout.longNames ? kExrLongNamesFlag : 0));
  appendExrAttribute(out, "channels", "chlist", exrChannelList(entries));
  if (const auto &c = image.chromaticities) {
    const float xy[8] = {c->redX,  c->redY,  c->greenX, c->greenY,
                         c->blueX, c->blueY, c->whiteX, c->whiteY};
    appendExrAttribute(out, "chromaticities", "chromaticities", floatValues(xy, 8));
  }
  appendExrImageAttributes(out, image.width, image.height,
                           image.compression == ExrCompression::kZip ? kExrZipCompression
                                                                     : kExrNoCompression);
  if (image.worldToCamera) {
    appendExrAttribute(out, "worldToCamera", "m44f", floatValues(image.worldToCamera->data(), 16));
  }
  if (image.worldToNDC) {
    appendExrAttribute(out, "worldToNDC", "m44f", floatValues(image.worldToNDC->data(), 16));
  }
  out.u8(0); // end of header
  return header;
}

std::size_t workerCount(unsigned requested, std::size_t pieces) {
  const std::size_t wanted =
      requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  // A single worker would only take turns with the calling thread.
  const std::size_t workers = std::min(wanted, pieces);
  return workers >= 2 ? workers : 0;
}

LayeredExrResult fileFailure(const char *path, int error) {
  return {LayeredExrStatus::kFileError, error,
          std::string("cannot write ") + path + ": " + std::strerror(error)};
}

// Writes header, blank table, blocks and the table; 0 or the system's error number, or -1 when
// encoding ran out of memory.
int writeFile(platform::ReplacingFile &file, const std::vector<uint8_t> &header,
              const LayeredExrLayout &layout, PieceQueue &pieces) {
  const std::vector<uint8_t> blankTable(layout.blockCount * sizeof(uint64_t), 0);
  if (const int error = file.write(header.data(), header.size())) {
    return error;
  }
  if (const int error = file.write(blankTable.data(), blankTable.size())) {
    return error;
  }
  std::vector<uint8_t> table;
  table.reserve(blankTable.size());
  ByteWriter offsets(table);
  uint64_t position = header.size() + blankTable.size();
  for (std::size_t index = 0; index < pieceCount(layout); ++index) {
    std::size_t size = 0;
    const uint8_t *piece = pieces.get(index, &size);
    if (piece == nullptr) {
      return -1;
    }
    if (const int error = file.write(piece, size)) {
      return error;
    }
    pieces.done(index);
    if (layout.compression == ExrCompression::kNone) {
      const std::size_t lines = pieceEndLine(layout, index) - pieceFirstLine(layout, index);
      for (std::size_t line = 0; line < lines; ++line) {
        offsets.u64le(position + line * (kExrBlockPrefix + layout.lineBytes));
      }
    } else {
      offsets.u64le(position);
    }
    position += size;
  }
  if (const int error = file.seek(header.size())) {
    return error;
  }
  return file.write(table.data(), table.size());
}

LayeredExrResult write(const char *path, const LayeredExrImage &image) {
  LayeredExrLayout layout;
  if (LayeredExrResult bad = layOutLayeredExr(image, layout); !bad.ok()) {
    return bad;
  }
  // Everything is allocated before the file is opened, so running out of memory leaves no file.
  const std::vector<uint8_t> header = buildHeader(image, layout);
  PieceQueue pieces(layout, workerCount(image.threads, pieceCount(layout)));

  platform::ReplacingFile file;
  if (const int error = file.open(path)) {
    return fileFailure(path, error);
  }
  // Pieces are written whole: a stream buffer would only add a copy.
  std::setvbuf(file.stream(), nullptr, _IONBF, 0);
  // A failure leaves the temporary file to the destructor, which removes it.
  const int error = writeFile(file, header, layout, pieces);
  if (error == -1) {
    return {LayeredExrStatus::kOutOfMemory, 0, kOutOfMemory};
  }
  if (error != 0) {
    return fileFailure(path, error);
  }
  if (const int commitError = file.commit()) {
    return fileFailure(path, commitError);
  }
  return {};
}

} // namespace

LayeredExrResult writeLayeredExr(const char *utf8Path, const LayeredExrImage &image) {
  if (utf8Path == nullptr || utf8Path[0] == '\0') {
    return {LayeredExrStatus::kFileError, EINVAL, "no file name given"};
  }
  try {
    return write(utf8Path, image);
  } catch (const std::bad_alloc &) {
    return {LayeredExrStatus::kOutOfMemory, 0, kOutOfMemory};
  } catch (const std::length_error &) { // a buffer beyond what a vector can hold
    return {LayeredExrStatus::kOutOfMemory, 0, kOutOfMemory};
  }
}

std::vector<ExrChannel> rgbaChannels(const float *rgba, ExrSampleType type) {
  std::vector<ExrChannel> channels;
  const char *names[4] = {"R", "G", "B", "A"};
  for (std::size_t c = 0; c < 4; ++c) {
    channels.push_back({names[c], type, rgba == nullptr ? nullptr : rgba + c, 4, 0});
  }
  return channels;
}

} // namespace ek::image
