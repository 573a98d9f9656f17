// Output files of both writers: argument and path failures leave no file behind, the path length
// limit counts UTF-16 code units, non-ASCII names arrive intact, and write failures are reported.
#include <cstdio>
#include <string>

#include "emberkit.h"
#include "image_test_support.h"
#include "platform/file_open.h"

namespace {

using namespace ek::test;
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
  EXPECT_EQ(ek::platform::openForWriting(nullptr), nullptr);
  EXPECT_EQ(ek::platform::openForWriting(""), nullptr);
}

struct Writer {
  const char *name;
  const char *extension;
  int32_t (*save)(const char *path, int32_t width, int32_t height, const float *rgba);
};

const Writer kWriters[] = {
    {"png8", ".png",
     [](const char *p, int32_t w, int32_t h, const float *i) { return ekSavePNG(p, w, h, i, 0); }},
    {"png16", ".png",
     [](const char *p, int32_t w, int32_t h, const float *i) { return ekSavePNG(p, w, h, i, 1); }},
    {"exr", ".exr", ekSaveEXR},
};

class WriterFiles : public ImageFileTest, public ::testing::WithParamInterface<Writer> {
protected:
  int32_t save(const std::string &file, int32_t width = 2, int32_t height = 2) {
    return GetParam().save(file.c_str(), width, height, pixels_);
  }
  std::string name(const std::string &stem) const { return stem + GetParam().extension; }
  const float pixels_[16] = {0.1f, 0.2f, 0.3f, 1, 0.4f, 0.5f, 0.6f, 0.5f,
                             0.7f, 0.8f, 0.9f, 1, 0.0f, 0.0f, 0.0f, 0.0f};
};
INSTANTIATE_TEST_SUITE_P(AllWriters, WriterFiles, ::testing::ValuesIn(kWriters),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(WriterFiles, BadArgumentsLeaveNoFile) {
  const std::string file = path(name("bad"));
  EXPECT_EQ(GetParam().save(nullptr, 2, 2, pixels_), 1);
  EXPECT_EQ(GetParam().save(file.c_str(), 2, 2, nullptr), 1);
  EXPECT_EQ(save(file, 0, 2), 1);
  EXPECT_EQ(save(file, 2, 0), 1);
  EXPECT_EQ(save(file, -1, 2), 1);
  EXPECT_EQ(save(file, 2, -5), 1);
  EXPECT_EQ(save(path("missing/folder/" + name("x"))), 1);
  EXPECT_TRUE(folderEmpty());
}

// Sizes beyond what the formats' 32-bit fields and the compressor take are refused before a
// pixel is read (the image passed holds only four pixels).
TEST_P(WriterFiles, RefusesOversizedImages) {
  if (std::string(GetParam().extension) == ".exr") {
    EXPECT_EQ(save(path(name("wide")), 1 << 28, 1), 1); // line data size above INT32_MAX
  } else {
    EXPECT_EQ(save(path(name("wide")), 400000000, 1), 1);
    EXPECT_EQ(save(path(name("tall")), 1000000, 1000), 1); // filtered size above INT32_MAX
  }
  EXPECT_TRUE(folderEmpty());
}

TEST_P(WriterFiles, NonAsciiNameIsKept) {
  const std::string file = path(name("bild_\xC3\xA4\xC3\xB6\xC3\xBC_\xE6\x97\xA5\xE6\x9C\xAC"));
  ASSERT_EQ(save(file), 0);
  EXPECT_TRUE(fs::exists(fromUtf8(file)));
  EXPECT_GT(readBytes(file).size(), 0u);
}

// A path of exactly 2047 UTF-16 units is written; one unit more is refused. The name mixes a
// character that needs two units with ones that need three UTF-8 bytes but one unit.
TEST_P(WriterFiles, PathLimitCountsUtf16Units) {
  std::string folder = path("");
  while (utf16Length(folder.c_str()) < 2047 - 250) {
    folder += std::string(200, 'd') + "/";
    fs::create_directories(fromUtf8(folder));
  }
  const std::string prefix = "\xF0\x9F\x98\x80\xE6\x97\xA5"; // 😀日: 3 units, 7 bytes
  const std::size_t fill = 2047 - utf16Length(folder.c_str()) - 3 - 4;
  const std::string longest = folder + prefix + std::string(fill, 'x') + GetParam().extension;
  const std::string tooLong = folder + prefix + std::string(fill + 1, 'x') + GetParam().extension;
  ASSERT_EQ(utf16Length(longest.c_str()), 2047u);
  EXPECT_EQ(save(tooLong), 1);
  EXPECT_FALSE(fs::exists(fromUtf8(tooLong)));
  EXPECT_EQ(save(longest), 0);
  EXPECT_TRUE(fs::exists(fromUtf8(longest)));
}

TEST_P(WriterFiles, WriteFailureIsReported) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "needs /dev/full";
  }
  EXPECT_EQ(save("/dev/full"), 1); // the write or at the latest the close runs out of space
}

} // namespace
