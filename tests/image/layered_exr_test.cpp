// The layered EXR writer's files read back with the OpenEXR library: every channel of both sample
// types, with both compressions, at sizes that leave partial blocks and vector remainders.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "image/half_float.h"
#include "image/layered_exr.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;
using namespace ek::image;

// A smooth ramp, a few bright clusters, and at the start noise that no compressor can shrink (so
// some ZIP blocks are stored as they are), plus values a half cannot hold at the end. The ramp
// leaves no zero bytes, so that a block compressed from the wrong neighbours would not read back.
std::vector<float> testValues(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> spread(-2.0f, 80000.0f);
  std::vector<float> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = 0.001f * static_cast<float>((i + seed) % 1000 + 1);
    if (i < count / 8) {
      values[i] = std::bit_cast<float>(static_cast<uint32_t>(random()) & 0xBFFFFFFFu);
    } else if (i % 31 == 0) {
      values[i] = spread(random) * (i % 2 == 0 ? 1.0f : 1e-6f);
    }
  }
  const float specials[] = {std::numeric_limits<float>::infinity(), -0.0f, 65520.0f, 1e-8f,
                            -std::numeric_limits<float>::quiet_NaN()};
  for (std::size_t i = 0; i < std::size(specials) && i < count; ++i) {
    values[count - 1 - i] = specials[i];
  }
  return values;
}

// Reads one channel of the file as its stored type and compares every pixel with what was given.
void expectChannel(Imf::InputFile &file, const ExrChannel &channel, int width, int height) {
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const bool half = channel.type == ExrSampleType::kHalf;
  std::vector<uint32_t> read(pixels, 0xDEADBEEFu);
  Imf::FrameBuffer frame;
  frame.insert(channel.name,
               Imf::Slice(half ? Imf::HALF : Imf::FLOAT, reinterpret_cast<char *>(read.data()),
                          sizeof(uint32_t), sizeof(uint32_t) * width));
  file.setFrameBuffer(frame);
  file.readPixels(0, height - 1);
  const std::size_t rowStride =
      channel.rowStride != 0 ? channel.rowStride : width * channel.pixelStride;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float given = channel.pixels[y * rowStride + x * channel.pixelStride];
      const uint32_t got = read[static_cast<std::size_t>(y) * width + x];
      const uint32_t expected = half ? (0xDEAD0000u | floatToHalf(given)) // upper bytes untouched
                                     : std::bit_cast<uint32_t>(given);
      ASSERT_EQ(got, expected) << channel.name << " at " << x << "," << y << " " << given;
    }
  }
}

class LayeredExrReadBack
    : public ImageFileTest,
      public ::testing::WithParamInterface<std::tuple<ExrCompression, int, int, unsigned>> {};

// The beauty interleaved (stride 4), depth and a long-named channel in float planes, motion
// vectors in half planes, a light layer taken from an RGB image whose rows are padded, and an
// emission layer in float.
TEST_P(LayeredExrReadBack, EveryChannelAndAttribute) {
  const auto [compression, width, height, threads] = GetParam();
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  const std::size_t paddedRow = 3 * width + 5;
  const std::vector<float> rgba = testValues(4 * pixels, 1);
  const std::vector<float> depth = testValues(pixels, 2);
  const std::vector<float> motion = testValues(2 * pixels, 3);
  const std::vector<float> light = testValues(paddedRow * height, 4);
  const std::vector<float> emission = testValues(pixels, 5);

  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.compression = compression;
  image.threads = threads;
  image.channels = ek::image::rgbaChannels(rgba.data(), ExrSampleType::kHalf);
  image.channels.push_back({"Z", ExrSampleType::kFloat, depth.data(), 1, 0});
  image.channels.push_back({"forward.v", ExrSampleType::kHalf, motion.data() + pixels, 1, 0});
  image.channels.push_back({"forward.u", ExrSampleType::kHalf, motion.data(), 1, 0});
  for (std::size_t c = 0; c < 3; ++c) {
    image.channels.push_back(
        {std::string("light1.") + "RGB"[c], ExrSampleType::kHalf, light.data() + c, 3, paddedRow});
  }
  image.channels.push_back({"emission.R", ExrSampleType::kFloat, emission.data(), 1, 0});
  const std::string longName = "a_layer_name_well_past_31_bytes_long.R";
  image.channels.push_back({longName, ExrSampleType::kFloat, depth.data(), 1, 0});
  image.chromaticities = ek::image::ExrChromaticities{0.708f, 0.292f, 0.170f,  0.797f,
                                                      0.131f, 0.046f, 0.3127f, 0.3290f};
  ek::image::ExrMatrix toCamera{}, toNdc{};
  for (std::size_t i = 0; i < 16; ++i) {
    toCamera[i] = static_cast<float>(i) * 0.5f - 3.0f;
    toNdc[i] = 1.0f / (static_cast<float>(i) + 1.5f);
  }
  image.worldToCamera = toCamera;
  image.worldToNDC = toNdc;

  const auto result = writeLayeredExr(path("layers.exr").c_str(), image);
  ASSERT_TRUE(result.ok()) << result.message;

  Imf::InputFile file(path("layers.exr").c_str());
  const Imf::Header &header = file.header();
  EXPECT_TRUE(file.isComplete());
  EXPECT_EQ(header.compression(),
            compression == ExrCompression::kZip ? Imf::ZIP_COMPRESSION : Imf::NO_COMPRESSION);
  EXPECT_EQ(header.dataWindow(), Imath::Box2i({0, 0}, {width - 1, height - 1}));
  EXPECT_EQ(header.displayWindow(), header.dataWindow());
  std::vector<std::string> order;
  for (auto it = header.channels().begin(); it != header.channels().end(); ++it) {
    order.push_back(it.name());
  }
  const std::vector<std::string> sorted = {"A",         "B",        "G",          "R",
                                           "Z",         longName,   "emission.R", "forward.u",
                                           "forward.v", "light1.B", "light1.G",   "light1.R"};
  EXPECT_EQ(order, sorted);
  for (const ExrChannel &channel : image.channels) {
    const Imf::Channel *stored = header.channels().findChannel(channel.name);
    ASSERT_NE(stored, nullptr) << channel.name;
    EXPECT_EQ(stored->type, channel.type == ExrSampleType::kHalf ? Imf::HALF : Imf::FLOAT);
    expectChannel(file, channel, width, height);
  }

  ASSERT_TRUE(Imf::hasChromaticities(header));
  const Imf::Chromaticities &c = Imf::chromaticities(header);
  EXPECT_EQ(c.red, Imath::V2f(0.708f, 0.292f));
  EXPECT_EQ(c.green, Imath::V2f(0.170f, 0.797f));
  EXPECT_EQ(c.blue, Imath::V2f(0.131f, 0.046f));
  EXPECT_EQ(c.white, Imath::V2f(0.3127f, 0.3290f));
  ASSERT_TRUE(Imf::hasWorldToCamera(header) && Imf::hasWorldToNDC(header));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(Imf::worldToCamera(header)[i / 4][i % 4], toCamera[i]) << i;
    EXPECT_EQ(Imf::worldToNDC(header)[i / 4][i % 4], toNdc[i]) << i;
  }
}

// 1 x 1; a width that is no multiple of the converters' 8 and a height below one ZIP block;
// a height that leaves a partial last block; on one thread and on several.
INSTANTIATE_TEST_SUITE_P(
    Sizes, LayeredExrReadBack,
    ::testing::Combine(::testing::Values(ExrCompression::kZip, ExrCompression::kNone),
                       ::testing::Values(1, 37, 203), ::testing::Values(1, 7, 35),
                       ::testing::Values(1u, 3u)));

// Threads change only who does the work: the file's bytes are the same. Without optional
// attributes the header has none of them, and a render's empty areas compress well.
TEST_F(ImageFileTest, LayeredExrSameBytesOnAnyThreadCountAndCompresses) {
  const int width = 301;
  const int height = 97;
  std::vector<float> rgba(static_cast<std::size_t>(width) * height * 4, 0.0f);
  for (std::size_t i = 0; i < rgba.size(); i += 53) {
    rgba[i] = 0.25f * static_cast<float>(i % 7);
  }
  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.channels = ek::image::rgbaChannels(rgba.data(), ExrSampleType::kHalf);
  image.threads = 1;
  ASSERT_TRUE(writeLayeredExr(path("one.exr").c_str(), image).ok());
  image.threads = 4;
  ASSERT_TRUE(writeLayeredExr(path("four.exr").c_str(), image).ok());
  const std::vector<uint8_t> one = readBytes(path("one.exr"));
  EXPECT_EQ(one, readBytes(path("four.exr")));
  EXPECT_LT(one.size(), rgba.size() * 2 / 4);

  Imf::InputFile file(path("one.exr").c_str());
  EXPECT_FALSE(Imf::hasChromaticities(file.header()));
  EXPECT_FALSE(Imf::hasWorldToCamera(file.header()));
  EXPECT_FALSE(Imf::hasWorldToNDC(file.header()));
  for (const ExrChannel &channel : image.channels) {
    expectChannel(file, channel, width, height);
  }
}

// Blocks that compression cannot shrink are stored as they are: with noise only, the ZIP file is
// the uncompressed one less the prefixes and table entries of the blocks it merges, and reads back.
TEST_F(ImageFileTest, LayeredExrStoresIncompressibleBlocksAsTheyAre) {
  const int width = 45;
  const int height = 40; // two full blocks of 16 lines and one of 8
  std::mt19937 random(9);
  std::vector<float> noise(static_cast<std::size_t>(width) * height);
  for (float &value : noise) {
    value = std::bit_cast<float>(static_cast<uint32_t>(random())); // NaN payloads too
  }
  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.channels = {{"Z", ExrSampleType::kFloat, noise.data(), 1, 0}};
  image.compression = ExrCompression::kNone;
  ASSERT_TRUE(writeLayeredExr(path("none.exr").c_str(), image).ok());
  image.compression = ExrCompression::kZip;
  ASSERT_TRUE(writeLayeredExr(path("zip.exr").c_str(), image).ok());
  const std::size_t merged = height - 3;
  EXPECT_EQ(readBytes(path("zip.exr")).size(), readBytes(path("none.exr")).size() - 16 * merged);
  Imf::InputFile file(path("zip.exr").c_str());
  for (const ExrChannel &channel : image.channels) {
    expectChannel(file, channel, width, height);
  }
}

// Uncompressed lines so long that fewer than 16 fill a megabyte are written in smaller groups, and
// every line's block still sits where the offset table says.
TEST_F(ImageFileTest, LayeredExrWideUncompressedLines) {
  const int width = 17000;
  const int height = 40;
  const std::vector<float> values = testValues(static_cast<std::size_t>(width) * height, 6);
  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.compression = ExrCompression::kNone;
  image.channels = {{"Z", ExrSampleType::kFloat, values.data(), 1, 0}};
  for (unsigned threads : {1u, 2u}) {
    image.threads = threads;
    ASSERT_TRUE(writeLayeredExr(path("wide.exr").c_str(), image).ok());
    Imf::InputFile file(path("wide.exr").c_str());
    expectChannel(file, image.channels[0], width, height);
  }
}

// Empty rows make blocks equal to the one before, which are compressed once and their bytes
// reused: also for a block that differs from its predecessor only in its last byte, or only in
// its size (the last block), on one thread or several.
TEST_F(ImageFileTest, LayeredExrRepeatedBlocks) {
  const int width = 50;
  const int height = 16 * 6 + 3;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  std::vector<float> depth(pixels, 1e10f);
  std::vector<float> rgba(4 * pixels, 0.0f);
  for (std::size_t i = 16 * width; i < 32 * width; ++i) { // block 1 holds something
    depth[i] = 3.0f + static_cast<float>(i % 17);
    rgba[4 * i + 1] = 0.5f;
  }
  rgba[4 * (4 * 16 * width - 1) + 3] = 1.0f; // block 3 differs from block 2 in its last pixel
  LayeredExrImage image;
  image.width = width;
  image.height = height;
  image.channels = ek::image::rgbaChannels(rgba.data(), ExrSampleType::kHalf);
  image.channels.push_back({"Z", ExrSampleType::kFloat, depth.data(), 1, 0});
  image.threads = 1;
  ASSERT_TRUE(writeLayeredExr(path("one.exr").c_str(), image).ok());
  image.threads = 3;
  ASSERT_TRUE(writeLayeredExr(path("three.exr").c_str(), image).ok());
  EXPECT_EQ(readBytes(path("one.exr")), readBytes(path("three.exr")));
  for (const char *name : {"one.exr", "three.exr"}) {
    Imf::InputFile file(path(name).c_str());
    for (const ExrChannel &channel : image.channels) {
      expectChannel(file, channel, width, height);
    }
  }
}

} // namespace
