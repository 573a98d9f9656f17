// An array of plain values in zeroed pages from the system (see platform/page_memory.h), for the
// CPU device's per-frame working arrays of millions of entries. Kept between frames of one size;
// a first frame's first writes to a large array then map a few large pages where a std::vector's
// would fault in every small page one by one.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "cpu/zeroed_pages.h"

namespace ek {

template <typename T> class PageArray {
  static_assert(std::is_trivially_copyable_v<T>, "the pages are handed out without construction");

public:
  // Makes the array `count` values long: kept as it is when it already is, otherwise all zero.
  // Throws std::bad_alloc when the memory cannot be had.
  void resize(uint64_t count) {
    if (count == count_)
      return;
    count_ = 0;
    const uint64_t bytes = count <= UINT64_MAX / sizeof(T) ? count * sizeof(T) : 0;
    if (!pages_.allocate(bytes) && count > 0)
      throw std::bad_alloc();
    count_ = count;
  }

  uint64_t size() const { return count_; }
  T *data() const { return reinterpret_cast<T *>(pages_.data()); }
  T &operator[](uint64_t i) const { return data()[i]; }
  T *begin() const { return data(); }
  T *end() const { return data() + count_; }

  void swap(PageArray &other) noexcept {
    pages_.swap(other.pages_);
    std::swap(count_, other.count_);
  }

private:
  ZeroedPages pages_;
  uint64_t count_ = 0;
};

} // namespace ek
