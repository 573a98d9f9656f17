#include "platform/page_memory.h"

#include "platform/windows_api.h"

#include <cstddef>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace ek::platform {

#if defined(_WIN32)

void *allocatePages(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX)
    return nullptr;
  return VirtualAlloc(nullptr, size_t(bytes), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releasePages(void *pages, uint64_t) {
  if (pages)
    VirtualFree(pages, 0, MEM_RELEASE);
}

#else

namespace {

constexpr uint64_t kLargePage = uint64_t(2) << 20;

void *mapPages(uint64_t bytes) {
  void *pages =
      mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

} // namespace

void *allocatePages(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX - kLargePage)
    return nullptr;
  if (bytes < kLargePage)
    return mapPages(bytes);
  // Maps a large page more than asked and returns what lies outside the aligned block: the
  // system places large pages only at large-page boundaries.
  char *const mapped = static_cast<char *>(mapPages(bytes + kLargePage));
  if (!mapped)
    return nullptr;
  const uintptr_t start = (uintptr_t(mapped) + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  char *const block = mapped + (start - uintptr_t(mapped));
  char *const mappedEnd = mapped + bytes + kLargePage;
  if (block > mapped)
    munmap(mapped, size_t(block - mapped));
  // munmap frees whole pages: the tail starts at the first page boundary after the block.
  const uint64_t pageSize = uint64_t(sysconf(_SC_PAGESIZE));
  char *const blockEnd = block + ((bytes + pageSize - 1) & ~(pageSize - 1));
  if (mappedEnd > blockEnd)
    munmap(blockEnd, size_t(mappedEnd - blockEnd));
#if defined(MADV_HUGEPAGE)
  // A hint: where the system has no large pages to give, the block keeps small ones.
  madvise(block, size_t(bytes), MADV_HUGEPAGE);
#endif
  return block;
}

void releasePages(void *pages, uint64_t bytes) {
  if (pages)
    munmap(pages, size_t(bytes));
}

#endif

} // namespace ek::platform
