// A block of zeroed pages from the system (see platform/page_memory.h), freed with its owner. The
// system maps its pages only when they are first touched.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/page_memory.h"

namespace ek {

class ZeroedPages {
public:
  ZeroedPages() = default;
  ZeroedPages(const ZeroedPages &) = delete;
  ZeroedPages &operator=(const ZeroedPages &) = delete;
  ZeroedPages(ZeroedPages &&other) noexcept
      : pages_(std::exchange(other.pages_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
  ~ZeroedPages() { platform::releasePages(pages_, bytes_); }

  // Replaces the block by `bytes` zero bytes; false (and no block) when they cannot be had.
  bool allocate(uint64_t bytes) {
    platform::releasePages(pages_, bytes_);
    pages_ = static_cast<char *>(platform::allocatePages(bytes));
    bytes_ = pages_ ? bytes : 0;
    return pages_ != nullptr;
  }

  char *data() const { return pages_; }

  void swap(ZeroedPages &other) noexcept {
    std::swap(pages_, other.pages_);
    std::swap(bytes_, other.bytes_);
  }

private:
  char *pages_ = nullptr;
  uint64_t bytes_ = 0;
};

} // namespace ek
