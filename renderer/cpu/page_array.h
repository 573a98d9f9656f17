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
    allocate(count, count);
  }

  // Makes the array `count` values long for a caller that writes every value before it reads
  // one: the values are left unspecified. The pages already mapped are kept where they hold the
  // count and it is not far below them, with some room to grow, so that arrays sized by a
  // particle count that changes a little from frame to frame do not take fresh pages (and the
  // system's zeroing of them) every frame. Throws std::bad_alloc when the memory cannot be had.
  void resizeForOverwrite(uint64_t count) {
    if (count <= capacity_ && count >= capacity_ / kMostUnused) {
      count_ = count;
      return;
    }
    allocate(count, count <= UINT64_MAX - count / kGrowth ? count + count / kGrowth : count);
  }

  uint64_t size() const { return count_; }
  T *data() const { return reinterpret_cast<T *>(pages_.data()); }
  T &operator[](uint64_t i) const { return data()[i]; }
  T *begin() const { return data(); }
  T *end() const { return data() + count_; }

  void swap(PageArray &other) noexcept {
    pages_.swap(other.pages_);
    std::swap(count_, other.count_);
    std::swap(capacity_, other.capacity_);
  }

private:
  // resizeForOverwrite keeps pages for at most kMostUnused times the count, and takes an eighth
  // more than asked when it needs new ones.
  static constexpr uint64_t kMostUnused = 4;
  static constexpr uint64_t kGrowth = 8;

  // Fresh zeroed pages for `capacity` values, `count` of them in use.
  void allocate(uint64_t count, uint64_t capacity) {
    count_ = capacity_ = 0;
    const uint64_t bytes = capacity <= UINT64_MAX / sizeof(T) ? capacity * sizeof(T) : 0;
    if (!pages_.allocate(bytes) && capacity > 0)
      throw std::bad_alloc();
    count_ = count;
    capacity_ = capacity;
  }

  ZeroedPages pages_;
  uint64_t count_ = 0;
  uint64_t capacity_ = 0;
};

} // namespace ek
