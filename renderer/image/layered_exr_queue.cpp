#include "image/layered_exr_queue.h"

#include <algorithm>
#include <system_error>

namespace ek::image {

PieceQueue::PieceQueue(const LayeredExrLayout &layout, std::size_t workers)
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

PieceQueue::~PieceQueue() {
  {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
  for (std::thread &thread : threads_) {
    thread.join();
  }
}

const uint8_t *PieceQueue::get(std::size_t index, std::size_t *size) {
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

void PieceQueue::done(std::size_t index) {
  {
    const std::lock_guard lock(mutex_);
    written_ = index + 1;
  }
  changed_.notify_all();
}

void PieceQueue::work() {
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

void PieceQueue::fail() {
  {
    const std::lock_guard lock(mutex_);
    failed_ = true;
  }
  changed_.notify_all();
}

} // namespace ek::image
