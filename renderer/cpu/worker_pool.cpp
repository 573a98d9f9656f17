#include "cpu/worker_pool.h"

#include <algorithm>

namespace ek {

WorkerPool::WorkerPool(unsigned workers) {
  const unsigned extra = workers > 1 ? workers - 1 : 0;
  threads_.reserve(extra);
  try {
    for (unsigned i = 0; i < extra; ++i)
      threads_.emplace_back([this, i] { workerLoop(i + 1); });
  } catch (...) {
    // A thread that cannot start (the system's thread limit) leaves the pool half built: the
    // workers already running are stopped and joined before the failure reaches the caller.
    stop();
    throw;
  }
}

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread &thread : threads_)
    thread.join();
}

uint64_t WorkerPool::chunkFor(uint64_t total, uint64_t minimum) const {
  constexpr uint64_t kChunksPerWorker = 16;
  return std::max(minimum, total / (uint64_t(size()) * kChunksPerWorker) + 1);
}

void WorkerPool::parallelFor(uint64_t total, uint64_t chunk, const RangeBody &body) {
  if (total == 0)
    return;
  chunk = std::max<uint64_t>(chunk, 1);
  if (threads_.empty() || total <= chunk) {
    body(0, total, 0);
    return;
  }
  std::lock_guard launch(launchMutex_);
  {
    std::lock_guard lock(mutex_);
    body_ = &body;
    total_ = total;
    chunk_ = chunk;
    next_.store(0, std::memory_order_relaxed);
    busy_ = unsigned(threads_.size());
    ++generation_;
  }
  wake_.notify_all();
  runChunks(0);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busy_ == 0; });
  body_ = nullptr;
}

void WorkerPool::runChunks(unsigned worker) {
  for (;;) {
    const uint64_t begin = next_.fetch_add(chunk_, std::memory_order_relaxed);
    if (begin >= total_)
      return;
    (*body_)(begin, std::min(total_, begin + chunk_), worker);
  }
}

void WorkerPool::workerLoop(unsigned worker) {
  uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_)
        return;
      seen = generation_;
    }
    runChunks(worker);
    {
      std::lock_guard lock(mutex_);
      if (--busy_ == 0)
        done_.notify_one();
    }
  }
}

} // namespace ek
