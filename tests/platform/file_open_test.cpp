// Opening files by UTF-8 path: path lengths count UTF-16 code units, as Windows limits them.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/file_open.h"

namespace {

using ek::platform::utf16Length;

TEST(FileOpen, CountsUtf16Units) {
  EXPECT_EQ(utf16Length(""), 0u);
  EXPECT_EQ(utf16Length("abc"), 3u);
  EXPECT_EQ(utf16Length("\xC3\xA4"), 1u);                 // ä
  EXPECT_EQ(utf16Length("\xE6\x97\xA5\xE6\x9C\xAC"), 2u); // 日本
  EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80"
                        "a"),
            3u); // 😀 needs a surrogate pair
  EXPECT_EQ(utf16Length("a\xFF"
                        "b"),
            3u); // a stray byte becomes one unit
  EXPECT_EQ(utf16Length("\xE6\x97"
                        "a"),
            3u); // a cut sequence, byte by byte
  errno = 0;
  EXPECT_EQ(ek::platform::openForWriting(nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ek::platform::openForWriting(""), nullptr);
}

} // namespace
