#include "platform/page_memory.h"

#include "platform/windows_api.h"

#include <cstddef>

#if !defined(_WIN32)
#include <sys/mman.h>
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

// Windows grants large pages only to processes with the lock-memory privilege, and only when the
// memory is reserved with them.
void adviseLargePages(void *, uint64_t) {}

#else

void *allocatePages(uint64_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX)
    return nullptr;
  void *pages =
      mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
}

void releasePages(void *pages, uint64_t bytes) {
  if (pages)
    munmap(pages, size_t(bytes));
}

void adviseLargePages([[maybe_unused]] void *pages, [[maybe_unused]] uint64_t bytes) {
#if defined(MADV_HUGEPAGE)
  // Transparent huge pages in "madvise" mode serve exactly the ranges so marked; a hint, so its
  // errors are ignored.
  if (pages && bytes > 0)
    madvise(pages, size_t(bytes), MADV_HUGEPAGE);
#endif
}

#endif

} // namespace ek::platform
