// The layered EXR writer refuses what it cannot write with a clear text, before it creates
// anything, and a write that fails half way (a full disk) keeps the previous file.
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "image/layered_exr.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;
using namespace ek::image;

const std::vector<uint8_t> kPrevious = {'o', 'l', 'd'};

class LayeredExrInput : public ImageFileTest {
protected:
  void SetUp() override {
    ImageFileTest::SetUp();
    std::FILE *file = std::fopen(target().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(kPrevious.data(), 1, kPrevious.size(), file);
    std::fclose(file);
    image_.width = 20;
    image_.height = 3;
    image_.channels = ek::image::rgbaChannels(pixels_.data(), ExrSampleType::kHalf);
  }
  std::string target() const { return path("target.exr"); }

  // Writes image_ and expects a refusal of `status` whose text contains `words`, with the
  // previous file untouched and nothing else in the folder.
  void expectRefused(LayeredExrStatus status, const std::string &words) {
    const auto result = writeLayeredExr(target().c_str(), image_);
    EXPECT_EQ(result.status, status) << result.message;
    EXPECT_NE(result.message.find(words), std::string::npos) << result.message;
    EXPECT_EQ(readBytes(target()), kPrevious);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir_)) {
      ++files;
    }
    EXPECT_EQ(files, 1u);
  }

  std::vector<float> pixels_ = std::vector<float>(4 * 20 * 3, 0.5f);
  LayeredExrImage image_;
};

TEST_F(LayeredExrInput, RefusesBadNames) {
  image_.channels[1].name.clear();
  expectRefused(LayeredExrStatus::kInvalidImage, "channel 1 has an empty name");
  image_.channels[1].name = std::string(1, 'R');
  expectRefused(LayeredExrStatus::kInvalidImage, "channel name \"R\" is given more than once");
  image_.channels[1].name = std::string("G\0x", 3);
  expectRefused(LayeredExrStatus::kInvalidImage, "\"G\\x00x\" contains a NUL byte");
  image_.channels[1].name = std::string(256, 'g');
  expectRefused(LayeredExrStatus::kInvalidImage, "is 256 bytes long; OpenEXR allows at most 255");
  // The longest name the format allows is written.
  image_.channels[1].name = std::string(255, 'g');
  EXPECT_TRUE(writeLayeredExr(target().c_str(), image_).ok());
}

TEST_F(LayeredExrInput, RefusesMissingSizesAndData) {
  image_.channels[2].pixels = nullptr;
  expectRefused(LayeredExrStatus::kInvalidImage, "channel \"B\" has no pixel data");
  image_.channels.clear();
  expectRefused(LayeredExrStatus::kInvalidImage, "the image has no channels");
  image_.channels = ek::image::rgbaChannels(pixels_.data(), ExrSampleType::kHalf);
  image_.width = 0;
  expectRefused(LayeredExrStatus::kInvalidImage, "image size 0 x 3");
  image_.width = 20;
  image_.height = -1;
  expectRefused(LayeredExrStatus::kInvalidImage, "image size 20 x -1");
}

// Sizes whose arithmetic would overflow 32 or 64 bits are refused, not wrapped around; the data is
// never read.
TEST_F(LayeredExrInput, RefusesSizesBeyondTheFormatAndTheAddressSpace) {
  image_.width = std::numeric_limits<int32_t>::max();
  image_.height = 1;
  image_.compression = ExrCompression::kNone;
  image_.channels = {{"Z", ExrSampleType::kFloat, pixels_.data(), 0, 0}};
  expectRefused(LayeredExrStatus::kTooLarge, "exceeds OpenEXR's block size limit");
  // One line fits, a block of 16 does not.
  image_.width = 40000000;
  image_.height = 16;
  image_.compression = ExrCompression::kZip;
  expectRefused(LayeredExrStatus::kTooLarge, "a block of 16 line(s) of 40000000 pixels");
  image_.width = 2;
  image_.height = 3;
  image_.channels[0].pixelStride = std::numeric_limits<std::size_t>::max() / 2;
  expectRefused(LayeredExrStatus::kTooLarge, "channel \"Z\": its strides reach past the address");
  image_.channels[0].pixelStride = 1;
  image_.channels[0].rowStride = std::numeric_limits<std::size_t>::max() / 3;
  expectRefused(LayeredExrStatus::kTooLarge, "its strides reach past");
}

TEST_F(LayeredExrInput, ReportsAnUnwritableTarget) {
  const std::string missing = path("no-such-folder/x.exr");
  const auto result = writeLayeredExr(missing.c_str(), image_);
  EXPECT_EQ(result.status, LayeredExrStatus::kFileError);
  EXPECT_EQ(result.systemError, ENOENT);
  EXPECT_EQ(result.message.find("cannot write " + missing + ": "), 0u) << result.message;
  EXPECT_EQ(writeLayeredExr(nullptr, image_).status, LayeredExrStatus::kFileError);
}

#if !defined(_WIN32)
// A file system that fills up at any point of the write, in the header, among the blocks or when
// the offset table is written over the blank one, and on one thread or several.
TEST_F(LayeredExrInput, FullDiskKeepsThePreviousFile) {
  const int width = 333;
  const int height = 70;
  std::vector<float> plane(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < plane.size(); ++i) {
    plane[i] = static_cast<float>(i % 1013) * 0.37f;
  }
  image_.width = width;
  image_.height = height;
  image_.channels = {{"Z", ExrSampleType::kFloat, plane.data(), 1, 0},
                     {"Y", ExrSampleType::kHalf, plane.data(), 1, 0}};
  for (ExrCompression compression : {ExrCompression::kZip, ExrCompression::kNone}) {
    image_.compression = compression;
    ASSERT_TRUE(writeLayeredExr(path("whole.exr").c_str(), image_).ok());
    const std::size_t size = readBytes(path("whole.exr")).size();
    fs::remove(path("whole.exr"));
    for (std::size_t limit : {std::size_t{10}, size / 3, size - 1}) {
      for (unsigned threads : {1u, 2u}) {
        image_.threads = threads;
        const FileSizeLimit full(limit);
        SCOPED_TRACE(std::to_string(limit) + " bytes, " + std::to_string(threads) + " threads");
        expectRefused(LayeredExrStatus::kFileError, "cannot write " + target() + ": ");
      }
    }
  }
}
#endif

} // namespace
