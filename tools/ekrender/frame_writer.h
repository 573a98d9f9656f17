// Writes a sequence's images on a thread of its own while the next frame renders. There are two
// image buffers, one being rendered and one being written, so a run holds at most two frames
// whatever the sequence's length. What happened to each frame (written, kept, skipped) is reported
// on the writer's thread in the order the frames were handed over, a written frame's only once its
// file is complete. After a write fails nothing more is written or reported.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ekrender {

class FrameWriter {
public:
  // Writes the image to its file; false with a message naming the frame.
  using Write = std::function<bool(const std::vector<float> &image, std::string &error)>;
  using Report = std::function<void(const std::string &event)>;

  // Images of `imageSize` floats; `report` runs on the writer's thread.
  FrameWriter(size_t imageSize, Report report);
  // Finishes what was handed over (nothing after a failed write) and ends the thread.
  ~FrameWriter();
  FrameWriter(const FrameWriter &) = delete;
  FrameWriter &operator=(const FrameWriter &) = delete;

  // A buffer to render the next frame into, once one is free; null after a write failed. Throws
  // std::bad_alloc when a buffer cannot be made.
  std::vector<float> *acquire();
  // Hands over a buffer from acquire(): `write` runs on the writer's thread, then `event` is
  // reported, and the buffer is free again.
  void submit(std::vector<float> *image, Write write, std::string event);
  // Gives back a buffer from acquire() that holds no frame (its render failed).
  void release(std::vector<float> *image);
  // Reports `event` in turn, with nothing to write.
  void note(std::string event);
  // Waits until everything handed over is written and reported; false with the failed write's
  // message.
  bool finish(std::string &error);
  bool failed();

private:
  struct Item {
    int buffer; // -1: an event alone
    Write write;
    std::string event;
  };
  void run();
  int indexOf(const std::vector<float> *image) const;

  Report report_;
  size_t imageSize_;
  std::vector<float> buffers_[2];
  bool inUse_[2] = {false, false};
  std::deque<Item> queue_;
  bool writing_ = false, stopping_ = false, failed_ = false;
  std::string error_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_; // last: starts once everything above exists
};

} // namespace ekrender
