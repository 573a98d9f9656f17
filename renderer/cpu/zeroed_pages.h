// Zeroed memory from the system that starts at a page boundary. Blocks this large come straight
// from fresh pages, which the system maps only when they are first touched, so a block costs
// nothing where it is never written; alignment makes each 4 KiB tile of it exactly one page.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace ek {

class ZeroedPages {
public:
  static constexpr uint64_t kPageBytes = 4096;

  ZeroedPages() = default;
  ZeroedPages(const ZeroedPages &) = delete;
  ZeroedPages &operator=(const ZeroedPages &) = delete;
  ZeroedPages(ZeroedPages &&other) noexcept : block_(other.block_), start_(other.start_) {
    other.block_ = other.start_ = nullptr;
  }
  ~ZeroedPages() { std::free(block_); }

  // Replaces the block by `bytes` zero bytes; false (and no block) when they cannot be had.
  bool allocate(uint64_t bytes) {
    std::free(block_);
    block_ = start_ = nullptr;
    if (bytes == 0 || bytes > SIZE_MAX - kPageBytes)
      return false;
    block_ = std::calloc(size_t(bytes + kPageBytes), 1);
    if (!block_)
      return false;
    start_ = reinterpret_cast<char *>((reinterpret_cast<uintptr_t>(block_) + kPageBytes - 1) &
                                      ~uintptr_t(kPageBytes - 1));
    return true;
  }

  char *data() const { return start_; }

private:
  void *block_ = nullptr;
  char *start_ = nullptr;
};

} // namespace ek
