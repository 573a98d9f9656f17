// Memory straight from the operating system, in whole pages: zeroed, page-aligned, and mapped only
// where it is first touched, so a large block costs nothing where it is never written. Unlike
// calloc, whose blocks may come from memory it recycles and must clear, this never writes.
#pragma once

#include <cstdint>

namespace ek::platform {

// `bytes` zero bytes starting at a page boundary; null when the system refuses (or bytes is 0).
void *allocatePages(uint64_t bytes);

// Returns a block of allocatePages, with the size it was asked for; null is harmless.
void releasePages(void *pages, uint64_t bytes);

// Asks that the pages of a block of allocatePages not yet touched be backed by large pages (2 MiB
// on x86-64 Linux) where the system grants them on request. Large pages spare the address
// translation misses of accesses that land all over a block of many megabytes; in exchange, a
// first touch maps and zeroes a whole large page, so only blocks about to be written nearly whole
// should ask. The contents stay as they are. Does nothing where the system takes no such request.
void adviseLargePages(void *pages, uint64_t bytes);

} // namespace ek::platform
