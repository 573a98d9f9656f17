// ekSaveLayeredEXR: channel records from the C interface, read back with the OpenEXR library, and
// the records it refuses before any file is made.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>
#include <half.h>

#include <cerrno>
#include <functional>
#include <map>

#include "emberkit.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;

constexpr int kWidth = 21;
constexpr int kHeight = 19; // a partial ZIP block of three lines at the bottom

// Interleaved RGBA as the renderer gives it, and a depth plane inside rows wider than the image.
struct LayeredPixels {
  static constexpr int kDepthRow = kWidth + 5;
  std::vector<float> rgba = std::vector<float>(kWidth * kHeight * 4);
  std::vector<float> depth = std::vector<float>(kDepthRow * kHeight, -1.0f);

  LayeredPixels() {
    for (int i = 0; i < kWidth * kHeight * 4; ++i) {
      rgba[i] = 0.01f * static_cast<float>(i % 97) + 0.25f * static_cast<float>(i % 4);
    }
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        depth[y * kDepthRow + x] = 100.0f + 0.123456f * static_cast<float>(x * kHeight + y);
      }
    }
  }

  std::vector<EKExrChannel> channels() const {
    std::vector<EKExrChannel> list;
    const char *names[] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
      list.push_back({names[c], EK_EXR_HALF, 4, rgba.data() + c, 0});
    }
    list.push_back({"Z", EK_EXR_FLOAT, 1, depth.data(), kDepthRow});
    return list;
  }
};

std::vector<float> readChannel(Imf::InputFile &file, const char *name) {
  std::vector<float> values(kWidth * kHeight, -7.0f);
  Imf::FrameBuffer frame;
  frame.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(values.data()), sizeof(float),
                                sizeof(float) * kWidth));
  file.setFrameBuffer(frame);
  file.readPixels(0, kHeight - 1);
  return values;
}

class LayeredSaveTest : public ImageFileTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(LayeredSaveTest, ChannelsTypesAndCameraReadBack) {
  const LayeredPixels pixels;
  const std::vector<EKExrChannel> channels = pixels.channels();
  float toCamera[16];
  float toNdc[16];
  for (int i = 0; i < 16; ++i) {
    toCamera[i] = 0.5f * static_cast<float>(i) - 3.0f;
    toNdc[i] = 1.0f / static_cast<float>(i + 2);
  }
  const std::string file = path("layers.exr");
  ASSERT_EQ(ekSaveLayeredEXR(file.c_str(), kWidth, kHeight, channels.data(),
                             static_cast<int32_t>(channels.size()), GetParam(), toCamera, toNdc),
            0);
  EXPECT_EQ(ekLastWriteError(), 0);

  Imf::InputFile input(file.c_str());
  const Imf::Header &header = input.header();
  EXPECT_EQ(header.compression(),
            GetParam() == EK_EXR_COMPRESSION_ZIP ? Imf::ZIP_COMPRESSION : Imf::NO_COMPRESSION);
  std::map<std::string, Imf::PixelType> types;
  for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
    types[it.name()] = it.channel().type;
  }
  const std::map<std::string, Imf::PixelType> expected = {
      {"A", Imf::HALF}, {"B", Imf::HALF}, {"G", Imf::HALF}, {"R", Imf::HALF}, {"Z", Imf::FLOAT}};
  EXPECT_EQ(types, expected);
  ASSERT_TRUE(Imf::hasWorldToCamera(header) && Imf::hasWorldToNDC(header));
  ASSERT_TRUE(Imf::hasChromaticities(header));
  EXPECT_FLOAT_EQ(Imf::chromaticities(header).white.x, 0.3127f);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(Imf::worldToCamera(header)[i / 4][i % 4], toCamera[i]) << i;
    EXPECT_EQ(Imf::worldToNDC(header)[i / 4][i % 4], toNdc[i]) << i;
  }

  const char *rgbaNames[] = {"R", "G", "B", "A"};
  for (int c = 0; c < 4; ++c) {
    const std::vector<float> read = readChannel(input, rgbaNames[c]);
    for (int i = 0; i < kWidth * kHeight; ++i) {
      const float given = pixels.rgba[i * 4 + c];
      ASSERT_EQ(read[i], static_cast<float>(half(given))) << rgbaNames[c] << " pixel " << i;
    }
  }
  const std::vector<float> z = readChannel(input, "Z");
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      ASSERT_EQ(z[y * kWidth + x], pixels.depth[y * LayeredPixels::kDepthRow + x]) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Compressions, LayeredSaveTest,
                         ::testing::Values(EK_EXR_COMPRESSION_NONE, EK_EXR_COMPRESSION_ZIP));

// Each bad request fails with its reason, leaves the previous file as it was and no other file.
TEST_F(ImageFileTest, LayeredSaveRefusesBadRecordsBeforeWriting) {
  const LayeredPixels pixels;
  const std::string file = path("kept.exr");
  ASSERT_EQ(ekSaveEXR(file.c_str(), kWidth, kHeight, pixels.rgba.data()), 0);
  const std::vector<uint8_t> before = readBytes(file);
  const float huge = 1.0f;
  struct Case {
    const char *what;
    int expectedError;
    std::function<void(std::vector<EKExrChannel> &, int32_t &, int32_t &)> spoil;
  };
  const Case cases[] = {
      {"null name", EINVAL, [](auto &c, auto &, auto &) { c[1].name = nullptr; }},
      {"empty name", EINVAL, [](auto &c, auto &, auto &) { c[1].name = ""; }},
      {"repeated name", EINVAL, [](auto &c, auto &, auto &) { c[4].name = "G"; }},
      {"null pixels", EINVAL, [](auto &c, auto &, auto &) { c[4].pixels = nullptr; }},
      {"unknown type", EINVAL, [](auto &c, auto &, auto &) { c[0].type = 2; }},
      {"zero pixel stride", EINVAL, [](auto &c, auto &, auto &) { c[0].pixelStride = 0; }},
      {"negative row stride", EINVAL, [](auto &c, auto &, auto &) { c[4].rowStride = -1; }},
      {"unknown compression", EINVAL, [](auto &, auto &method, auto &) { method = 7; }},
      {"no channels", EINVAL, [](auto &c, auto &, auto &) { c.clear(); }},
      {"zero width", EINVAL, [](auto &, auto &, auto &width) { width = 0; }},
      {"line beyond the format", EFBIG,
       [&huge](auto &c, auto &, auto &width) {
         c = {{"Z", EK_EXR_FLOAT, 1, &huge, 1}};
         width = 1 << 30; // one line of 4 GiB of floats: refused before a pixel is read
       }},
  };
  for (const Case &bad : cases) {
    std::vector<EKExrChannel> channels = pixels.channels();
    int32_t compression = EK_EXR_COMPRESSION_ZIP;
    int32_t width = kWidth;
    bad.spoil(channels, compression, width);
    EXPECT_EQ(ekSaveLayeredEXR(file.c_str(), width, kHeight, channels.data(),
                               static_cast<int32_t>(channels.size()), compression, nullptr,
                               nullptr),
              1)
        << bad.what;
    EXPECT_EQ(ekLastWriteError(), bad.expectedError) << bad.what;
    EXPECT_EQ(readBytes(file), before) << bad.what;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << bad.what;
  }
  EXPECT_EQ(ekSaveLayeredEXR(nullptr, kWidth, kHeight, pixels.channels().data(), 5,
                             EK_EXR_COMPRESSION_ZIP, nullptr, nullptr),
            1);
  EXPECT_EQ(ekLastWriteError(), EINVAL);
}

// A folder that does not exist: the system's reason, and no matrices needed.
TEST_F(ImageFileTest, LayeredSaveReportsTheSystemsReason) {
  const LayeredPixels pixels;
  const std::vector<EKExrChannel> channels = pixels.channels();
  EXPECT_EQ(ekSaveLayeredEXR(path("missing/layers.exr").c_str(), kWidth, kHeight, channels.data(),
                             5, EK_EXR_COMPRESSION_NONE, nullptr, nullptr),
            1);
  EXPECT_EQ(ekLastWriteError(), ENOENT);
}

} // namespace
