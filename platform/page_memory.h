// Memory straight from the operating system, in whole pages: zeroed, page-aligned, and mapped only
// where it is first touched, so a large block costs nothing where it is never written. Unlike
// calloc, whose blocks may come from memory it recycles and must clear, this never writes.
//
// A block of at least one large page (2 MiB on x86-64 Linux) starts on a large-page boundary and
// asks to be backed by large pages where the system grants them on request (transparent huge pages
// in "madvise" mode). A first touch then maps and zeroes 2 MiB at once instead of 4 KiB: each page
// fault costs several microseconds (far more in some virtual machines), so the few large zeroings
// of a frame's scattered first writes cost less than the hundreds or thousands of small faults
// they replace, and accesses all over a block of many megabytes miss the address translation cache
// far less often. Windows grants large pages only to processes holding the lock-memory privilege,
// so there the block keeps small pages.
#pragma once

#include <cstdint>

namespace ek::platform {

// `bytes` zero bytes starting at a page boundary (a large-page boundary for a block of at least
// one large page); null when the system refuses (or bytes is 0).
void *allocatePages(uint64_t bytes);

// Returns a block of allocatePages, with the size it was asked for; null is harmless.
void releasePages(void *pages, uint64_t bytes);

} // namespace ek::platform
