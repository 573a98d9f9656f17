// ekSaveEXR's byte layout, checked against sizes and offsets worked out by hand. The exact sizes
// also show that the file is written in binary mode (no line-end translation).
#include "emberkit.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;

TEST_F(ImageFileTest, ExrOnePixelLayout) {
  const float pixel[4] = {1.0f, 0.5f, -2.0f, 65504.0f}; // R, G, B, A
  ASSERT_EQ(ekSaveEXR(path("one.exr").c_str(), 1, 1, pixel), 0);
  const std::vector<uint8_t> file = readBytes(path("one.exr"));
  ASSERT_EQ(file.size(), 355u);
  EXPECT_EQ(readLe(&file[0], 4), 0x01312F76u); // bytes 76 2F 31 01
  EXPECT_EQ(readLe(&file[4], 4), 2u);
  EXPECT_EQ(file[330], 0); // end of header
  // Attributes in their fixed order; OpenEXR would accept any order, other readers might not.
  const std::string header(file.begin() + 8, file.begin() + 331);
  const char *attributes[8][2] = {{"channels", "chlist"},        {"compression", "compression"},
                                  {"dataWindow", "box2i"},       {"displayWindow", "box2i"},
                                  {"lineOrder", "lineOrder"},    {"pixelAspectRatio", "float"},
                                  {"screenWindowCenter", "v2f"}, {"screenWindowWidth", "float"}};
  std::size_t previous = 0;
  for (const auto &[name, type] : attributes) {
    const std::size_t at = header.find(std::string(name) + '\0' + type + '\0');
    EXPECT_TRUE(at != std::string::npos && at >= previous) << name;
    previous = at;
  }
  for (int i = 0; i < 4; ++i) { // channel entries of 18 bytes after name, type and size
    EXPECT_EQ(file[28 + 18 * i], "ABGR"[i]);
  }
  EXPECT_EQ(readLe(&file[331], 8), 339u);
  EXPECT_EQ(readLe(&file[339], 4), 0u);                        // line 0
  EXPECT_EQ(readLe(&file[343], 4), 8u);                        // data size
  const uint16_t halves[4] = {0x7BFF, 0xC000, 0x3800, 0x3C00}; // A, B, G, R
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(readLe(&file[347 + 2 * i], 2), halves[i]) << "channel " << i;
  }
}

TEST_F(ImageFileTest, ExrOffsetsAndBlocks) {
  const std::vector<float> image(2 * 3 * 4, 0.25f);
  ASSERT_EQ(ekSaveEXR(path("small.exr").c_str(), 2, 3, image.data()), 0);
  const std::vector<uint8_t> file = readBytes(path("small.exr"));
  ASSERT_EQ(file.size(), 331u + 3 * 8 + 3 * 24);
  for (uint64_t y = 0; y < 3; ++y) {
    const uint64_t offset = readLe(&file[331 + 8 * y], 8);
    EXPECT_EQ(offset, 355 + 24 * y);
    EXPECT_EQ(readLe(&file[offset], 4), y);
    EXPECT_EQ(readLe(&file[offset + 4], 4), 16u);
  }
}

} // namespace
