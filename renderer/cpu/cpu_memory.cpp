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
  std::unique_ptr<std::atomic<uint8_t>[]> blocks(
      new (std::nothrow) std::atomic<uint8_t>[size_t(DirtyTiles::blocksOf(bytes))]());
  if (!flags || !blocks)
    return nullptr;
  try {
    allocations_.emplace(start,
                         Allocation{std::move(pages), bytes, std::move(flags), std::move(blocks)});
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
  return DirtyTiles(it->first, it->second.bytes, it->second.flags.get(), it->second.blocks.get());
}

void CpuMemory::clear(WorkerPool &pool, const DirtyTiles &tiles, void *dst, uint64_t bytes) {
  if (bytes == 0)
    return;
  // Dirty tiles are cleared by their runs of dirty blocks where the allocation keeps block flags,
  // else whole. A tile the range only partly covers is cleared where the range covers it and keeps
  // its flags, since the rest of it may still hold data.
  char *const begin = static_cast<char *>(dst);
  char *const end = begin + bytes;
  const uint64_t first = tiles.tileOf(begin);
  const uint64_t count = std::min(tiles.tileCount(), tiles.tileOf(end - 1) + 1) - first;
  std::atomic<uint8_t> *const blocks = tiles.blockFlags();
  pool.parallelFor(count, pool.chunkFor(count, 64), [&](uint64_t from, uint64_t to, unsigned) {
    for (uint64_t t = first + from; t < first + to; ++t) {
      if (!tiles.flag(t).load(std::memory_order_relaxed))
        continue;
      char *const tileStart = tiles.tileStart(t);
      if (tileStart < begin || tiles.tileEnd(t) > end) {
        char *const from = std::max(begin, tileStart);
        std::memset(from, 0, size_t(std::min(end, tiles.tileEnd(t)) - from));
        continue;
      }
      tiles.flag(t).store(0, std::memory_order_relaxed);
      if (!blocks) {
        std::memset(tileStart, 0, size_t(tiles.tileEnd(t) - tileStart));
        continue;
      }
      std::atomic<uint8_t> *const own = blocks + t * DirtyTiles::kBlocksPerTile;
      const uint64_t tileBlocks =
          (uint64_t(tiles.tileEnd(t) - tileStart) + DirtyTiles::kBlockBytes - 1) >>
          DirtyTiles::kBlockShift;
      for (uint64_t b = 0; b < tileBlocks;) {
        if (!own[b].load(std::memory_order_relaxed)) {
          ++b;
          continue;
        }
        const uint64_t runStart = b;
        for (; b < tileBlocks && own[b].load(std::memory_order_relaxed); ++b)
          own[b].store(0, std::memory_order_relaxed);
        char *const from = tileStart + (runStart << DirtyTiles::kBlockShift);
        char *const to = std::min(tiles.tileEnd(t), tileStart + (b << DirtyTiles::kBlockShift));
        std::memset(from, 0, size_t(to - from));
      }
    }
  });
}

} // namespace ek
