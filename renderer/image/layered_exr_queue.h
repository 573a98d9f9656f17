// Encoded pieces of a layered image, handed out in order while worker threads encode ahead.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "image/layered_exr_blocks.h"
#include "image/layered_exr_layout.h"

namespace ek::image {

// Worker threads claim pieces in order and encode each into a slot of its own; a slot is reused
// once its piece is written, so at most kSlotsPerWorker pieces per worker wait. Without workers
// (none asked for, or none could start) the calling thread encodes each piece when it asks for it.
class PieceQueue {
public:
  // Pieces that may wait, encoded, for their turn to be written, per worker.
  static constexpr std::size_t kSlotsPerWorker = 2;

  // Allocates the slots and starts the workers, which begin at once. Throws std::bad_alloc.
  PieceQueue(const LayeredExrLayout &layout, std::size_t workers);
  PieceQueue(const PieceQueue &) = delete;
  PieceQueue &operator=(const PieceQueue &) = delete;
  // Stops the workers after the pieces they are encoding.
  ~PieceQueue();

  // The bytes of piece `index`, the one after the last one handed back with done(); null when
  // encoding failed (out of memory).
  const uint8_t *get(std::size_t index, std::size_t *size);
  // Frees the slot of piece `index` once the piece is written.
  void done(std::size_t index);

private:
  static constexpr std::size_t kNoPiece = static_cast<std::size_t>(-1);

  uint8_t *slotData(std::size_t slot) const { return storage_.get() + slot * slotBytes_; }
  void work();
  // Stops every worker and makes get() report the failure.
  void fail();

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

} // namespace ek::image
