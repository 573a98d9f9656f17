// ekSaveEXR: float RGBA images as single-part, uncompressed scan-line OpenEXR files with four
// half-float channels A, B, G, R. The header is built in memory; the pixels are converted into
// pieces of many scan lines, each written with one system call while the next one is converted on
// a second thread, into a temporary file that replaces the target only once it is complete.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "emberkit.h"
#include "image/byte_writer.h"
#include "image/exr_header.h"
#include "image/exr_line.h"
#include "image/save_call.h"
#include "platform/replacing_file.h"

#if defined(__linux__)
#include <fcntl.h>
#endif

namespace ek::image {

namespace {

constexpr std::size_t kChannels = 4;
constexpr std::size_t kBytesPerHalf = 2;
// Size of the pieces the file is written in. Each write has a fixed cost in the system of several
// microseconds, as much as converting a few lines, so pieces hold many lines.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
// Buffers for pieces converted ahead of the one being written.
constexpr std::size_t kPieceBuffers = 3;
// Images of fewer pieces are converted on the calling thread.
constexpr std::size_t kMinPiecesForThread = 3;

std::vector<uint8_t> channelList() {
  std::vector<ExrChannelEntry> channels;
  for (const char *name : {"A", "B", "G", "R"}) { // alphabetical, as the format requires
    channels.push_back({name, kExrPixelTypeHalf});
  }
  return exrChannelList(channels);
}

// Magic number, version, header and line offset table.
std::vector<uint8_t> buildHeader(int32_t width, int32_t height, uint64_t blockSize) {
  std::vector<uint8_t> header;
  ByteWriter out(header);
  out.bytes(kExrMagic, sizeof kExrMagic);
  out.u32le(kExrVersion);
  appendExrAttribute(out, "channels", "chlist", channelList());
  appendExrImageAttributes(out, width, height, kExrNoCompression);
  out.u8(0); // end of header

  const uint64_t rows = static_cast<uint64_t>(height);
  const uint64_t firstBlock = out.size() + rows * sizeof(uint64_t);
  header.reserve(header.size() + rows * sizeof(uint64_t));
  for (uint64_t y = 0; y < rows; ++y) {
    out.u64le(firstBlock + y * blockSize);
  }
  return header;
}

// The scan line blocks that follow the header, in pieces of whole blocks.
class Pieces {
public:
  Pieces(const float *rgba, std::size_t columns, std::size_t rows, std::size_t linesPerPiece)
      : rgba_(rgba), columns_(columns), rows_(rows), linesPerPiece_(linesPerPiece) {}

  std::size_t count() const { return (rows_ + linesPerPiece_ - 1) / linesPerPiece_; }
  // Room that every piece fits in.
  std::size_t maxSize() const { return linesPerPiece_ * blockSize(); }

  // Converts piece `index` into `out`; returns its size in bytes.
  std::size_t fill(std::size_t index, uint8_t *out) const {
    const std::size_t first = index * linesPerPiece_;
    const std::size_t end = std::min(first + linesPerPiece_, rows_);
    const uint32_t dataSize = static_cast<uint32_t>(blockSize() - kExrBlockPrefix);
    uint8_t *block = out;
    for (std::size_t y = first; y < end; ++y) {
      storeU32le(block, static_cast<uint32_t>(y));
      storeU32le(block + 4, dataSize);
      encodeExrLine(rgba_ + y * columns_ * kChannels, columns_, block + kExrBlockPrefix);
      block += blockSize();
    }
    return static_cast<std::size_t>(block - out);
  }

private:
  std::size_t blockSize() const { return kExrBlockPrefix + columns_ * kChannels * kBytesPerHalf; }

  const float *rgba_;
  std::size_t columns_;
  std::size_t rows_;
  std::size_t linesPerPiece_;
};

// Converts pieces on a second thread ahead of the caller, who writes them in order: the conversion
// of one piece (mostly reading the floats from memory) overlaps the system's copy of another.
// Pieces are claimed in order by whichever thread gets to them first, and the caller never waits
// for the helper: a piece that the helper has not finished when it is due is converted again by
// the caller (on a busy machine the system may keep the helper waiting for milliseconds, and a
// write that waited for it would cost more than converting twice). The helper converts piece i
// into buffers[i mod kPieceBuffers], the caller into buffers[kPieceBuffers].
class PieceConverter {
public:
  PieceConverter(const Pieces &pieces, uint8_t *const *buffers)
      : pieces_(pieces), buffers_(buffers), ready_(pieces.count(), false) {}
  PieceConverter(const PieceConverter &) = delete;
  PieceConverter &operator=(const PieceConverter &) = delete;
  // Stops the thread after the piece it is converting, if any.
  ~PieceConverter() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  // False when no thread can be started.
  bool start() {
    try {
      thread_ = std::thread([this] { run(); });
      return true;
    } catch (const std::system_error &) {
      return false;
    }
  }

  // Gives the bytes of piece `index`, the one after the last one handed back with done().
  const uint8_t *get(std::size_t index, std::size_t *size) {
    {
      const std::lock_guard lock(mutex_);
      if (claimed_ <= index) {
        claimed_ = index + 1;
      } else if (ready_[index]) {
        *size = sizes_[index % kPieceBuffers];
        return buffers_[index % kPieceBuffers];
      }
    }
    uint8_t *own = buffers_[kPieceBuffers];
    *size = pieces_.fill(index, own);
    return own;
  }
  // Frees the helper's buffer of piece `index` once the piece is written.
  void done(std::size_t index) {
    {
      const std::lock_guard lock(mutex_);
      written_ = index + 1;
    }
    changed_.notify_all();
  }

private:
  void run() {
    const std::size_t count = pieces_.count();
    for (;;) {
      std::size_t index = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
          return stopped_ || claimed_ == count || claimed_ < written_ + kPieceBuffers;
        });
        if (stopped_ || claimed_ == count) {
          return;
        }
        index = claimed_++;
      }
      const std::size_t size = pieces_.fill(index, buffers_[index % kPieceBuffers]);
      const std::lock_guard lock(mutex_);
      sizes_[index % kPieceBuffers] = size;
      ready_[index] = true; // the caller looks, it does not wait
    }
  }

  const Pieces &pieces_;
  uint8_t *const *buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> ready_; // pieces the helper has finished
  std::size_t sizes_[kPieceBuffers] = {};
  std::size_t claimed_ = 0; // pieces claimed by either thread
  std::size_t written_ = 0; // pieces whose buffer is free again
  bool stopped_ = false;
  std::thread thread_;
};

// Asks the file system to set aside room for the whole file before it is written. On Linux
// file systems that allocate blocks late (ext4, XFS), writing into space set aside in one
// request costs the system noticeably less than reserving room block by block as the data
// arrives. Only a hint: where it fails or is not supported the writes reserve the room as usual.
void reserveSpace(std::FILE *stream, uint64_t size) {
#if defined(__linux__)
  const int saved = errno;
  const int descriptor = fileno(stream);
  if (descriptor >= 0 && size <= static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    ::fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
  }
  errno = saved;
#else
  (void)stream;
  (void)size;
#endif
}

// Writes the header and every piece, converting on a second thread as well when `helper` is set
// (with kPieceBuffers + 1 buffers) and a thread can be started, else on this one (with buffers[0]).
int writeBlocks(platform::ReplacingFile &file, const std::vector<uint8_t> &header,
                const Pieces &pieces, uint8_t *const *buffers, bool helper) {
  const std::size_t count = pieces.count();
  if (helper) {
    PieceConverter converter(pieces, buffers);
    if (converter.start()) {
      if (const int error = file.write(header.data(), header.size())) {
        return error;
      }
      for (std::size_t index = 0; index < count; ++index) {
        std::size_t size = 0;
        const uint8_t *piece = converter.get(index, &size);
        if (const int error = file.write(piece, size)) {
          return error;
        }
        converter.done(index);
      }
      return 0;
    }
  }
  if (const int error = file.write(header.data(), header.size())) {
    return error;
  }
  for (std::size_t index = 0; index < count; ++index) {
    if (const int error = file.write(buffers[0], pieces.fill(index, buffers[0]))) {
      return error;
    }
  }
  return 0;
}

// Returns 0 or the system's error number of the failure.
int writeExr(const char *path, int32_t width, int32_t height, const float *rgba) {
  const std::size_t columns = static_cast<std::size_t>(width);
  const uint64_t dataSize = static_cast<uint64_t>(columns) * kChannels * kBytesPerHalf;
  // The block's data size is a signed 32-bit field.
  if (dataSize > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return EFBIG;
  }
  const std::size_t blockSize = kExrBlockPrefix + static_cast<std::size_t>(dataSize);
  const std::size_t rows = static_cast<std::size_t>(height);
  const std::size_t linesPerPiece = std::clamp<std::size_t>(kPieceBytes / blockSize, 1, rows);

  // Everything is allocated before the file is opened, so running out of memory leaves no file.
  const std::vector<uint8_t> header = buildHeader(width, height, blockSize);
  const Pieces pieces(rgba, columns, rows, linesPerPiece);
  // A helper thread pays when there are several pieces. Lines longer than a piece are converted
  // one at a time on this thread, in a single buffer, so that a huge line is not held three times.
  const bool helper = pieces.count() >= kMinPiecesForThread && pieces.maxSize() <= kPieceBytes &&
                      std::thread::hardware_concurrency() >= 2;
  const std::size_t bufferCount = helper ? kPieceBuffers + 1 : 1;
  const auto storage = std::make_unique_for_overwrite<uint8_t[]>(bufferCount * pieces.maxSize());
  uint8_t *buffers[kPieceBuffers + 1];
  for (std::size_t i = 0; i < kPieceBuffers + 1; ++i) {
    buffers[i] = storage.get() + i % bufferCount * pieces.maxSize();
  }

  platform::ReplacingFile file;
  if (const int error = file.open(path)) {
    return error;
  }
  // Every write is a whole piece: a stream buffer would only add a copy.
  std::setvbuf(file.stream(), nullptr, _IONBF, 0);
  reserveSpace(file.stream(), header.size() + static_cast<uint64_t>(rows) * blockSize);
  // A failed write leaves the temporary file to the destructor, which removes it.
  const int error = writeBlocks(file, header, pieces, buffers, helper);
  return error != 0 ? error : file.commit();
}

} // namespace

} // namespace ek::image

extern "C" EK_API int32_t ekSaveEXR(const char *path, int32_t width, int32_t height,
                                    const float *rgba) {
  return ek::image::runSave(path, width, height, rgba,
                            [&] { return ek::image::writeExr(path, width, height, rgba); });
}
