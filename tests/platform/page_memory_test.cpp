// Zeroed pages from the system: blocks of any size read zero, can be written to their last byte,
// and a large block, trimmed out of a bigger mapping to start on a large-page boundary, does not
// overlap its neighbours.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/page_memory.h"

namespace {

using ek::platform::allocatePages;
using ek::platform::releasePages;

bool allZero(const unsigned char *bytes, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i)
    if (bytes[i] != 0)
      return false;
  return true;
}

TEST(PageMemory, BlocksAreAlignedZerosWritableToTheirEnd) {
  const uint64_t largePage = uint64_t(2) << 20;
  for (const uint64_t bytes : {uint64_t(100), uint64_t(3 * 4096 + 1), largePage,
                               5 * largePage + 100}) {
    auto *block = static_cast<unsigned char *>(allocatePages(bytes));
    ASSERT_NE(block, nullptr) << bytes;
    const uintptr_t address = reinterpret_cast<uintptr_t>(block);
    EXPECT_EQ(address % 4096, 0u) << bytes;
#if !defined(_WIN32)
    if (bytes >= largePage) {
      EXPECT_EQ(address % largePage, 0u) << bytes;
    }
#endif
    EXPECT_TRUE(allZero(block, bytes)) << bytes;
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes - 1], 0xA5) << bytes;
    releasePages(block, bytes);
  }
  EXPECT_EQ(allocatePages(0), nullptr);
  releasePages(nullptr, 0);
}

TEST(PageMemory, LargeBlocksKeepToThemselves) {
  const uint64_t bytes = (uint64_t(3) << 20) + 12345;
  unsigned char *blocks[3];
  for (unsigned char *&block : blocks) {
    block = static_cast<unsigned char *>(allocatePages(bytes));
    ASSERT_NE(block, nullptr);
  }
  std::memset(blocks[1], 0xFF, bytes);
  EXPECT_TRUE(allZero(blocks[0], bytes));
  EXPECT_TRUE(allZero(blocks[2], bytes));
  releasePages(blocks[1], bytes);
  // The freed block's pages come back zeroed to the next block that gets them.
  auto *again = static_cast<unsigned char *>(allocatePages(bytes));
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(allZero(again, bytes));
  for (unsigned char *block : {blocks[0], blocks[2], again})
    releasePages(block, bytes);
}

} // namespace
