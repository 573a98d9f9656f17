// Which existing frames --skip-existing keeps: whole images written by the library's writers,
// never one cut short at any byte, an empty file, a folder, another format or an EXR whose line
// offsets were never filled in.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emberkit.h"
#include "existing_image.h"

namespace {

namespace fs = std::filesystem;
using ekrender::incompleteImageReason;
using ekrender::OutputFormat;

class ExistingImage : public ::testing::Test {
protected:
  void SetUp() override {
    folder_ = fs::path(testing::TempDir()) /
              ("existing_image_" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string path(const std::string &name) const { return (folder_ / name).string(); }

  // A 7x5 image with a different value in every pixel, written by the library.
  std::vector<char> written(const std::string &name, OutputFormat format) {
    std::vector<float> pixels(7 * 5 * 4);
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = float(i % 17) / 16.0f;
    const std::string file = path(name);
    const int result = format == OutputFormat::Exr ? ekSaveEXR(file.c_str(), 7, 5, pixels.data())
                                                   : ekSavePNG(file.c_str(), 7, 5, pixels.data(),
                                                               format == OutputFormat::Png16);
    EXPECT_EQ(result, 0);
    std::ifstream in(file, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  void write(const std::string &name, const std::vector<char> &bytes) {
    std::ofstream(path(name), std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }

  fs::path folder_;
};

TEST_F(ExistingImage, WholeImagesAreKeptAndEveryCutIsNot) {
  for (OutputFormat format : {OutputFormat::Png8, OutputFormat::Png16, OutputFormat::Exr}) {
    const std::vector<char> whole = written("whole", format);
    ASSERT_FALSE(whole.empty());
    EXPECT_EQ(incompleteImageReason(path("whole"), format), "");
    for (size_t size = 0; size < whole.size(); ++size) {
      write("cut", std::vector<char>(whole.begin(), whole.begin() + long(size)));
      EXPECT_NE(incompleteImageReason(path("cut"), format), "")
          << int(format) << ": cut at " << size << " of " << whole.size();
    }
  }
}

TEST_F(ExistingImage, SaysWhyAFileIsNotKept) {
  write("empty", {});
  EXPECT_EQ(incompleteImageReason(path("empty"), OutputFormat::Exr), "it is empty");
  fs::create_directory(path("folder.png"));
  EXPECT_EQ(incompleteImageReason(path("folder.png"), OutputFormat::Png8), "it is a folder");
  // Each format's whole file taken for the other.
  EXPECT_EQ(incompleteImageReason(path("absent"), OutputFormat::Png8), "it is not a regular file");
  written("image.png", OutputFormat::Png8);
  written("image.exr", OutputFormat::Exr);
  EXPECT_EQ(incompleteImageReason(path("image.png"), OutputFormat::Exr), "it is not an EXR file");
  EXPECT_EQ(incompleteImageReason(path("image.exr"), OutputFormat::Png8), "it is not a PNG file");
}

// A writer that puts the line offsets in at the end (as OpenEXR's does) leaves zeros there when
// it is stopped; an offset beyond the file is a file cut short after its table.
TEST_F(ExistingImage, ExrOffsetTableMustPointIntoTheFile) {
  std::vector<char> bytes = written("image.exr", OutputFormat::Exr);
  // The table is the five 8-byte offsets before the first line block, which the first offset
  // names.
  uint64_t first = 0;
  std::memcpy(&first, bytes.data() + bytes.size() - 5 * (8 + 7 * 8) - 5 * 8, 8);
  ASSERT_EQ(first, bytes.size() - 5 * (8 + 7 * 8));
  const size_t table = size_t(first) - 5 * 8;
  std::vector<char> zeroed = bytes;
  std::fill(zeroed.begin() + long(table) + 16, zeroed.begin() + long(table) + 24, 0);
  write("zeroed.exr", zeroed);
  EXPECT_EQ(incompleteImageReason(path("zeroed.exr"), OutputFormat::Exr),
            "its line offset table is not filled in");
  std::vector<char> beyond = bytes;
  beyond[table + 8 * 4 + 2] = 0x7f;
  write("beyond.exr", beyond);
  EXPECT_EQ(incompleteImageReason(path("beyond.exr"), OutputFormat::Exr), "it is cut short");
}

} // namespace
