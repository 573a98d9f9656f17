// writeLayeredExr: the header is built in memory and written with a line offset table of zeros;
// the blocks follow in line order as worker threads convert and compress them, and the table is
// written over the zeros once every block's place is known.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "image/byte_writer.h"
#include "image/exr_header.h"
#include "image/layered_exr.h"
#include "image/layered_exr_blocks.h"
#include "image/layered_exr_layout.h"
#include "platform/replacing_file.h"

namespace ek::image {

namespace {

constexpr const char *kOutOfMemory = "out of memory";
// Pieces that may wait, encoded, for their turn to be written, per worker.
constexpr std::size_t kSlotsPerWorker = 2;

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

// Hands out encoded pieces in order. Worker threads claim pieces in order and encode each into a
// slot of its own; a slot is reused once its piece is written, so at most kSlotsPerWorker pieces
// per worker wait. Without workers the calling thread encodes each piece when it asks for it.
class PieceQueue {
public:
  PieceQueue(const LayeredExrLayout &layout, std::size_t workers)
      : layout_(layout), count_(pieceCount(layout)), slotBytes_(maxPieceBytes(layout)),
        slotCount_(std::max<std::size_t>(1, workers * kSlotsPerWorker)),
        storage_(std::make_unique_for_overwrite<uint8_t[]>(slotCount_ * slotBytes_)),
        slotPiece_(slotCount_, kNoPiece), slotSize_(slotCount_, 0) {
    threads_.reserve(workers); // no allocation may fail once threads run
    for (std::size_t i = 0; i < workers; ++i) {
      try {
        threads_.emplace_back([this] { work(); });
      } catch (const std::system_error &) {
        break; // fewer workers; none at all means encoding here
      }
    }
    if (threads_.empty()) {
      own_ = std::make_unique<PieceEncoder>(layout_);
    }
  }
  PieceQueue(const PieceQueue &) = delete;
  PieceQueue &operator=(const PieceQueue &) = delete;
  ~PieceQueue() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    for (std::thread &thread : threads_) {
      thread.join();
    }
  }

  // The bytes of piece `index`, the one after the last one handed back with done(); null when
  // encoding failed (out of memory).
  const uint8_t *get(std::size_t index, std::size_t *size) {
    const std::size_t slot = index % slotCount_;
    if (own_) {
      if (!own_->ready()) {
        return nullptr;
      }
      *size = own_->encode(index, slotData(slot));
      return slotData(slot);
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return failed_ || slotPiece_[slot] == index; });
    if (failed_) {
      return nullptr;
    }
    *size = slotSize_[slot];
    return slotData(slot);
  }

  // Frees the slot of piece `index` once the piece is written.
  void done(std::size_t index) {
    {
      const std::lock_guard lock(mutex_);
      written_ = index + 1;
    }
    changed_.notify_all();
  }

private:
  static constexpr std::size_t kNoPiece = static_cast<std::size_t>(-1);

  uint8_t *slotData(std::size_t slot) const { return storage_.get() + slot * slotBytes_; }

  void work() {
    try {
      PieceEncoder encoder(layout_);
      if (!encoder.ready()) {
        fail();
        return;
      }
      for (;;) {
        std::size_t index = 0;
        {
          std::unique_lock lock(mutex_);
          changed_.wait(lock, [&] {
            return stopped_ || failed_ || claimed_ == count_ || claimed_ < written_ + slotCount_;
          });
          if (stopped_ || failed_ || claimed_ == count_) {
            return;
          }
          index = claimed_++;
        }
        const std::size_t slot = index % slotCount_;
        const std::size_t size = encoder.encode(index, slotData(slot));
        {
          const std::lock_guard lock(mutex_);
          slotSize_[slot] = size;
          slotPiece_[slot] = index;
        }
        changed_.notify_all();
      }
    } catch (...) { // out of memory: an exception must not end the program from a thread
      fail();
    }
  }

  // Stops every worker and makes get() report the failure.
  void fail() {
    {
      const std::lock_guard lock(mutex_);
      failed_ = true;
    }
    changed_.notify_all();
  }

  const LayeredExrLayout &layout_;
  const std::size_t count_;
  const std::size_t slotBytes_;
  const std::size_t slotCount_;
  const std::unique_ptr<uint8_t[]> storage_;
  std::unique_ptr<PieceEncoder> own_; // without workers
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::size_t> slotPiece_; // the piece whose bytes are ready in each slot
  std::vector<std::size_t> slotSize_;
  std::size_t claimed_ = 0; // pieces claimed by the workers
  std::size_t written_ = 0; // pieces whose slot is free again
  bool stopped_ = false;
  bool failed_ = false;
  std::vector<std::thread> threads_;
};

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
