// A fixed set of worker threads, created once and reused by every launch. The calling thread takes
// part as worker 0, so a pool of one runs everything inline.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ek {

class WorkerPool {
public:
  // Body of a parallel loop: items [begin, end) on worker `worker` (0 .. size() - 1).
  using RangeBody = std::function<void(uint64_t begin, uint64_t end, unsigned worker)>;

  // Starts workers - 1 threads; throws std::system_error, with no thread left running, when one
  // cannot be started.
  explicit WorkerPool(unsigned workers);
  ~WorkerPool();
  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;

  unsigned size() const { return unsigned(threads_.size()) + 1; }

  // Covers [0, total) in chunks of `chunk` items handed out in order to whichever worker is free;
  // returns when every item is done. Calls from several threads are serialised.
  void parallelFor(uint64_t total, uint64_t chunk, const RangeBody &body);

  // Chunk size that gives every worker several chunks to balance uneven work.
  uint64_t chunkFor(uint64_t total, uint64_t minimum) const;

private:
  // Tells the workers to end and joins them.
  void stop();
  void workerLoop(unsigned worker);
  void runChunks(unsigned worker);

  std::vector<std::thread> threads_;
  std::mutex launchMutex_; // one parallel loop at a time
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  uint64_t generation_ = 0;
  unsigned busy_ = 0;
  bool stopping_ = false;

  const RangeBody *body_ = nullptr;
  uint64_t total_ = 0;
  uint64_t chunk_ = 1;
  std::atomic<uint64_t> next_{0};
};

} // namespace ek
