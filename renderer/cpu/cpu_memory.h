// The CPU device's memory: zeroed pages from the system, each allocation with the flags of its
// dirty tiles (see dirty_tiles.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "cpu/dirty_tiles.h"
#include "cpu/worker_pool.h"
#include "cpu/zeroed_pages.h"

namespace ek {

class CpuMemory {
public:
  CpuMemory() = default;
  CpuMemory(const CpuMemory &) = delete;
  CpuMemory &operator=(const CpuMemory &) = delete;

  // `bytes` of zeros, every tile clean; null when the memory (or the size) is too much.
  void *allocate(uint64_t bytes);
  // Frees an allocation of this memory; null is harmless.
  void release(void *pointer);

  // The tiles of the allocation that holds `address`; an untracked view for any other address.
  DirtyTiles tilesOf(const void *address) const;

  // Sets [dst, dst + bytes), which lies in the allocation of `tiles`, to zero: only dirty tiles are
  // written, and the tiles the range covers whole are clean afterwards.
  static void clear(WorkerPool &pool, const DirtyTiles &tiles, void *dst, uint64_t bytes);

private:
  struct Allocation {
    ZeroedPages pages;
    uint64_t bytes;
    std::unique_ptr<std::atomic<uint8_t>[]> flags;
    std::unique_ptr<std::atomic<uint8_t>[]> blocks;
  };
  using Allocations = std::map<const char *, Allocation>;

  // The allocation that holds `address`; allocations_.end() for any other address.
  Allocations::const_iterator holding(const void *address) const;

  Allocations allocations_;
};

} // namespace ek
