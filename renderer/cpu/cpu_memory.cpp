#include "cpu/cpu_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ek {

void *CpuMemory::allocate(uint64_t bytes) {
  ZeroedPages pages;
  if (!pages.allocate(bytes))
    return nullptr;
  char *const start = pages.data();
  std::unique_ptr<std::atomic<uint8_t>[]> flags(
      new (std::nothrow) std::atomic<uint8_t>[size_t(DirtyTiles::tilesOf(bytes))]());
  if (!flags)
    return nullptr;
  try {
    allocations_.emplace(start, Allocation{std::move(pages), bytes, std::move(flags)});
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
  return start;
}

void CpuMemory::release(void *pointer) { allocations_.erase(static_cast<const char *>(pointer)); }

CpuMemory::Allocations::const_iterator CpuMemory::holding(const void *address) const {
  const char *p = static_cast<const char *>(address);
  auto it = allocations_.upper_bound(p);
  if (!p || it == allocations_.begin())
    return allocations_.end();
  --it;
  return uint64_t(p - it->first) < it->second.bytes ? it : allocations_.end();
}

DirtyTiles CpuMemory::tilesOf(const void *address) const {
  const auto it = holding(address);
  if (it == allocations_.end())
    return {};
  return DirtyTiles(it->first, it->second.bytes, it->second.flags.get());
}

void CpuMemory::clear(WorkerPool &pool, const DirtyTiles &tiles, void *dst, uint64_t bytes) {
  if (bytes == 0)
    return;
  // Runs of dirty tiles are cleared with one memset each; a tile the range only partly covers keeps
  // its flag, since the rest of it may still hold data.
  char *const begin = static_cast<char *>(dst);
  char *const end = begin + bytes;
  const uint64_t first = tiles.tileOf(begin);
  const uint64_t count = std::min(tiles.tileCount(), tiles.tileOf(end - 1) + 1) - first;
  pool.parallelFor(count, pool.chunkFor(count, 64), [&](uint64_t from, uint64_t to, unsigned) {
    for (uint64_t t = first + from; t < first + to;) {
      if (!tiles.flag(t).load(std::memory_order_relaxed)) {
        ++t;
        continue;
      }
      char *const runStart = std::max(begin, tiles.tileStart(t));
      for (; t < first + to && tiles.flag(t).load(std::memory_order_relaxed); ++t)
        if (tiles.tileStart(t) >= begin && tiles.tileEnd(t) <= end)
          tiles.flag(t).store(0, std::memory_order_relaxed);
      char *const runEnd = std::min(end, tiles.tileStart(t));
      std::memset(runStart, 0, size_t(runEnd - runStart));
    }
  });
}

} // namespace ek
