// Which 4 KiB tiles of a CPU device allocation may hold a non-zero byte. The device's memory comes
// zeroed from the system, which maps a page only when it is first written, and every pass that
// writes device memory flags the tiles it writes. A clear then touches only flagged tiles, the
// prefix pass skips columns that are all zero, and a resolve writes the background of a clean
// tile without reading it. A frame whose samples reach a quarter of a large map neither clears nor
// scans the rest, and the first frame of a context does not fault it in.
//
// The rule every writer keeps: a tile whose flag is clear holds only zero bytes. Flagging too much
// is always safe; flagging too little loses a clear.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace ek {

class DirtyTiles {
public:
  static constexpr unsigned kTileShift = 12;
  static constexpr uint64_t kTileBytes = uint64_t(1) << kTileShift;
  // Each tile is also flagged in blocks of 256 bytes, where the allocation keeps block flags: a
  // light pass's deposits reach a third of the map columns of the tiles they touch, and the
  // prefix pass and the clears then pass over the columns reached only. Blocks keep the same
  // rule as tiles: a block whose flag is clear holds only zero bytes.
  static constexpr unsigned kBlockShift = 8;
  static constexpr uint64_t kBlockBytes = uint64_t(1) << kBlockShift;
  static constexpr uint64_t kBlocksPerTile = kTileBytes / kBlockBytes;

  // Memory the device does not track: every tile counts as dirty and marks are dropped.
  DirtyTiles() = default;
  DirtyTiles(const void *base, uint64_t bytes, std::atomic<uint8_t> *flags,
             std::atomic<uint8_t> *blocks = nullptr)
      : base_(static_cast<const char *>(base)), bytes_(bytes), tiles_(tilesOf(bytes)),
        flags_(flags), blocks_(blocks) {}

  static uint64_t tilesOf(uint64_t bytes) { return (bytes + kTileBytes - 1) >> kTileShift; }
  static uint64_t blocksOf(uint64_t bytes) { return tilesOf(bytes) * kBlocksPerTile; }

  bool tracked() const { return flags_ != nullptr; }

  // Whether `address` lies in the tracked allocation.
  bool contains(const void *address) const {
    const char *p = static_cast<const char *>(address);
    return flags_ && p >= base_ && p < base_ + bytes_;
  }

  // Flags the tile holding `address`; any thread may mark at any time. True when this call
  // flagged it: the tile was clean, so all zero, and its page may not be mapped yet.
  bool mark(const void *address) const {
    if (!flags_)
      return false;
    if (blocks_)
      flagBlock(offsetOf(address) >> kBlockShift);
    std::atomic<uint8_t> &flag = flags_[tileOf(address)];
    // A load before the exchange keeps a tile's cache line shared while many threads mark it.
    return !flag.load(std::memory_order_relaxed) && !flag.exchange(1, std::memory_order_relaxed);
  }

  // Flags the tile holding `address`, where the caller adds with atomics (as other threads may).
  // The first writer of a clean tile maps its page for writing: an atomic addition reads before
  // it writes, and reading a page never written maps the system's shared zero page, which the
  // write must then replace, at the cost of a second fault.
  void markForAtomicAdd(void *address) const {
    if (mark(address))
      std::atomic_ref<unsigned char>(*static_cast<unsigned char *>(address))
          .fetch_or(0, std::memory_order_relaxed); // a write that changes nothing
  }

  // Flags every tile that [address, address + bytes) reaches.
  void markRange(const void *address, uint64_t bytes) const {
    if (!flags_ || bytes == 0)
      return;
    const uint64_t last = lastTileAfter(address, bytes);
    for (uint64_t t = tileOf(address); t < last; ++t)
      if (!flags_[t].load(std::memory_order_relaxed))
        flags_[t].store(1, std::memory_order_relaxed);
    if (blocks_)
      for (uint64_t b = blockOf(address), end = lastBlockAfter(address, bytes); b < end; ++b)
        flagBlock(b);
  }

  // False only when every byte of [address, address + bytes) is known to be zero.
  bool anyDirty(const void *address, uint64_t bytes) const {
    if (!flags_)
      return true;
    return bytes != 0 && !everyFlag(address, bytes, false);
  }

  // True only when every block (or, without block flags, every tile) that [address, address +
  // bytes) reaches is flagged: writing there flags nothing new. Untracked memory counts as flagged.
  bool allDirty(const void *address, uint64_t bytes) const {
    return !flags_ || bytes == 0 || everyFlag(address, bytes, true);
  }

  // The tile index of an address and the tile's flag, for a clear that walks the tiles itself.
  uint64_t tileOf(const void *address) const { return offsetOf(address) >> kTileShift; }
  uint64_t tileCount() const { return tiles_; }
  char *tileStart(uint64_t tile) const { return const_cast<char *>(base_) + (tile << kTileShift); }
  char *tileEnd(uint64_t tile) const { // the allocation's end for its last tile
    return const_cast<char *>(base_) + std::min((tile + 1) << kTileShift, bytes_);
  }
  std::atomic<uint8_t> &flag(uint64_t tile) const { return flags_[tile]; }
  // The block flags, where the allocation keeps them (else null): kBlocksPerTile for each tile,
  // block b starting kBlockBytes x b bytes into the allocation.
  std::atomic<uint8_t> *blockFlags() const { return blocks_; }

private:
  // Whether every flag over [address, address + bytes) (bytes > 0) is `set`: the block flags
  // where the allocation keeps them, else the tile flags.
  bool everyFlag(const void *address, uint64_t bytes, bool set) const {
    std::atomic<uint8_t> *const flags = blocks_ ? blocks_ : flags_;
    const uint64_t first = blocks_ ? blockOf(address) : tileOf(address);
    const uint64_t end = blocks_ ? lastBlockAfter(address, bytes) : lastTileAfter(address, bytes);
    for (uint64_t i = first; i < end; ++i)
      if ((flags[i].load(std::memory_order_relaxed) != 0) != set)
        return false;
    return true;
  }
  uint64_t offsetOf(const void *address) const {
    return uint64_t(static_cast<const char *>(address) - base_);
  }
  // One past the last tile that [address, address + bytes) reaches (bytes > 0).
  uint64_t lastTileAfter(const void *address, uint64_t bytes) const {
    return std::min(tiles_, ((offsetOf(address) + bytes - 1) >> kTileShift) + 1);
  }
  uint64_t blockOf(const void *address) const { return offsetOf(address) >> kBlockShift; }
  uint64_t lastBlockAfter(const void *address, uint64_t bytes) const {
    return std::min(tiles_ * kBlocksPerTile, ((offsetOf(address) + bytes - 1) >> kBlockShift) + 1);
  }
  void flagBlock(uint64_t block) const {
    if (!blocks_[block].load(std::memory_order_relaxed))
      blocks_[block].store(1, std::memory_order_relaxed);
  }
  const char *base_ = nullptr;
  uint64_t bytes_ = 0;
  uint64_t tiles_ = 0;
  std::atomic<uint8_t> *flags_ = nullptr;
  std::atomic<uint8_t> *blocks_ = nullptr;
};

} // namespace ek
