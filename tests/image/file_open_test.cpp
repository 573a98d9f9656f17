// Output files of both writers: argument and path failures leave no file behind, the path length
// limit counts UTF-16 code units, non-ASCII names arrive intact, write failures are reported with
// their reason and leave a previous file as it was.
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <vector>

#include "emberkit.h"
#include "image_test_support.h"
#include "platform/file_open.h"

namespace {

using namespace ek::test;
using ek::platform::utf16Length;

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
    EXPECT_EQ(ekLastWriteError(), EFBIG);
  } else {
    EXPECT_EQ(save(path(name("wide")), 400000000, 1), 1);
    EXPECT_EQ(ekLastWriteError(), EFBIG);
    EXPECT_EQ(save(path(name("tall")), 1000000, 1000), 1); // filtered size above INT32_MAX
    EXPECT_EQ(ekLastWriteError(), EFBIG);
  }
  EXPECT_TRUE(folderEmpty());
}

// The size query tells the PNG writer's limit exactly: a filtered row (one filter byte and four
// or eight bytes a pixel) of up to 1.4e9 bytes in all; the first size past it is refused.
TEST(PngSizeQuery, AgreesWithTheWriter) {
  EXPECT_EQ(ekPngSizeSupported(349999999, 1, 0), 1);
  EXPECT_EQ(ekPngSizeSupported(174999999, 1, 1), 1);
  EXPECT_EQ(ekPngSizeSupported(18000, 18000, 0), 1);
  EXPECT_EQ(ekPngSizeSupported(18000, 18000, 1), 0);
  EXPECT_EQ(ekPngSizeSupported(0, 5, 0), 0);
  EXPECT_EQ(ekPngSizeSupported(5, -1, 0), 0);
  const float pixel[4] = {};
  for (int32_t sixteenBit : {0, 1}) {
    const int32_t width = sixteenBit ? 175000000 : 350000000;
    EXPECT_EQ(ekPngSizeSupported(width, 1, sixteenBit), 0);
    // Refused before a pixel is read, and before the target's folder is looked at.
    EXPECT_EQ(ekSavePNG("missing/x.png", width, 1, pixel, sixteenBit), 1);
    EXPECT_EQ(ekLastWriteError(), EFBIG);
  }
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

// The reason is kept for the calling thread until its next save, which clears it when it
// succeeds; it is left in errno as well.
TEST_P(WriterFiles, WriteFailureIsReportedWithItsReason) {
  errno = 0;
  EXPECT_EQ(save(path("missing/" + name("x"))), 1);
  EXPECT_EQ(ekLastWriteError(), ENOENT);
  EXPECT_EQ(errno, ENOENT);
  std::thread([&] {
    EXPECT_EQ(ekLastWriteError(), 0);
    EXPECT_EQ(save(path(name("x")), 0, 2), 1);
    EXPECT_EQ(ekLastWriteError(), EINVAL);
  }).join();
  EXPECT_EQ(ekLastWriteError(), ENOENT);
  EXPECT_EQ(save(path(name("x"))), 0);
  EXPECT_EQ(ekLastWriteError(), 0);
  EXPECT_EQ(save(path(name("x")), 0, 2), 1);
  EXPECT_EQ(ekLastWriteError(), EINVAL);
  EXPECT_EQ(errno, EINVAL);
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "needs /dev/full";
  }
  // A device is written in place: the write or at the latest the close runs out of space.
  EXPECT_EQ(save("/dev/full"), 1);
  EXPECT_EQ(ekLastWriteError(), ENOSPC);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

#if !defined(_WIN32) // a file-size limit, symbolic links and POSIX modes
// A write that fails half way (here at a file size limit, as on a full disk) leaves the previous
// file as it was and no temporary file. A large image fails in a write, a small one only when the
// close writes the buffered rest.
TEST_P(WriterFiles, FailedWriteKeepsThePreviousFile) {
  std::mt19937 random(11);
  std::uniform_real_distribution<float> uniform(0, 1);
  for (int32_t side : {256, 16}) {
    std::vector<float> noise(size_t(side) * side * 4);
    for (float &v : noise) {
      v = uniform(random);
    }
    const std::string file = path(name("kept"));
    ASSERT_EQ(save(file), 0);
    const std::vector<uint8_t> previous = readBytes(file);
    {
      const FileSizeLimit limit(1000);
      errno = 0;
      EXPECT_EQ(GetParam().save(file.c_str(), side, side, noise.data()), 1) << side;
      EXPECT_EQ(errno, EFBIG) << side;
    }
    EXPECT_EQ(readBytes(file), previous) << side;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << side;
    // Without the limit the new image replaces the old one.
    ASSERT_EQ(GetParam().save(file.c_str(), side, side, noise.data()), 0);
    EXPECT_NE(readBytes(file), previous);
    fs::remove(file);
  }
}

// A large EXR image is converted in pieces while earlier ones are written. A failure in the
// header, the first piece, half way or in the last piece is reported, and leaves the previous file
// as it was and nothing else.
TEST_F(ImageFileTest, LargeExrFailingAtAnyPointKeepsThePreviousFile) {
  const int32_t width = 1500;
  const int32_t height = 400;
  const uint64_t size = 331 + 8 * height + height * (8 + 8 * uint64_t(width));
  const std::vector<float> image(std::size_t(width) * height * 4, 0.5f);
  const std::string file = path("kept.exr");
  const float pixel[4] = {};
  ASSERT_EQ(ekSaveEXR(file.c_str(), 1, 1, pixel), 0);
  const std::vector<uint8_t> previous = readBytes(file);
  for (rlim_t limit : {rlim_t{1000}, rlim_t{100000}, rlim_t{size / 2}, rlim_t{size - 10}}) {
    {
      const FileSizeLimit fileLimit(limit);
      errno = 0;
      EXPECT_EQ(ekSaveEXR(file.c_str(), width, height, image.data()), 1) << limit;
      EXPECT_EQ(errno, EFBIG) << limit;
    }
    EXPECT_EQ(readBytes(file), previous) << limit;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << limit;
  }
  ASSERT_EQ(ekSaveEXR(file.c_str(), width, height, image.data()), 0);
  EXPECT_EQ(readBytes(file).size(), size);
}

// The replacement keeps the mode of the file it replaces, and a link keeps pointing at the file,
// which receives the new image.
TEST_P(WriterFiles, ReplacementKeepsModeAndLinks) {
  const std::string file = path(name("target"));
  const std::string link = path(name("link"));
  ASSERT_EQ(save(file), 0);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(file, link);
  const std::vector<uint8_t> before = readBytes(file);
  ASSERT_EQ(save(link, 1, 1), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(readBytes(file), before);
  EXPECT_EQ(fs::status(file).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

#endif

} // namespace
