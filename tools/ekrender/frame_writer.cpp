#include "frame_writer.h"

#include <new>

namespace ekrender {

FrameWriter::FrameWriter(size_t imageSize, Report report)
    : report_(std::move(report)), imageSize_(imageSize), thread_(&FrameWriter::run, this) {}

FrameWriter::~FrameWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

int FrameWriter::indexOf(const std::vector<float> *image) const {
  return image == &buffers_[0] ? 0 : 1;
}

std::vector<float> *FrameWriter::acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return failed_ || !inUse_[0] || !inUse_[1]; });
  if (failed_)
    return nullptr;
  const int free = inUse_[0] ? 1 : 0;
  // A buffer is made when first needed: a single image takes one.
  if (buffers_[free].empty())
    buffers_[free].resize(imageSize_);
  inUse_[free] = true;
  return &buffers_[free];
}

void FrameWriter::submit(std::vector<float> *image, Write write, std::string event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({indexOf(image), std::move(write), std::move(event)});
  }
  changed_.notify_all();
}

void FrameWriter::release(std::vector<float> *image) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    inUse_[indexOf(image)] = false;
  }
  changed_.notify_all();
}

void FrameWriter::note(std::string event) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({-1, nullptr, std::move(event)});
  }
  changed_.notify_all();
}

bool FrameWriter::finish(std::string &error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
  if (failed_)
    error = error_;
  return !failed_;
}

bool FrameWriter::failed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

void FrameWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty())
      return; // stopping, and everything handed over is done
    Item item = std::move(queue_.front());
    queue_.pop_front();
    writing_ = true;
    const bool skip = failed_;
    lock.unlock();
    std::string error;
    bool written = true;
    if (!skip) {
      try {
        if (item.buffer >= 0)
          written = item.write(buffers_[item.buffer], error);
        if (written)
          report_(item.event);
      } catch (const std::bad_alloc &) {
        written = false;
        error = "out of host memory";
      }
    }
    lock.lock();
    if (!written) {
      failed_ = true;
      error_ = error;
    }
    if (item.buffer >= 0)
      inUse_[item.buffer] = false;
    writing_ = false;
    changed_.notify_all();
  }
}

} // namespace ekrender
