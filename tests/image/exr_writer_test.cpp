// ekSaveEXR: files read back with the OpenEXR library.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>

#include <limits>
#include <random>

#include "emberkit.h"
#include "image/half_float.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;
using ek::image::floatToHalf;

// OpenEXR reads the header fields we write and every value as its half conversion, unchanged:
// negative, above one, infinite and NaN values included. The width leaves a remainder after the
// converter's blocks of eight pixels.
TEST_F(ImageFileTest, ExrReadByOpenExr) {
  const int width = 21;
  const int height = 6;
  std::mt19937 random(3);
  std::uniform_real_distribution<float> spread(-3.0f, 70000.0f);
  std::vector<float> image(width * height * 4);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = i % 3 == 0 ? spread(random) : spread(random) * 1e-5f;
  }
  const float specials[] = {std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::quiet_NaN(), 65520.0f, 1e-8f, -0.0f};
  std::copy(std::begin(specials), std::end(specials), image.begin() + 37);
  ASSERT_EQ(ekSaveEXR(path("read.exr").c_str(), width, height, image.data()), 0);

  Imf::InputFile file(path("read.exr").c_str());
  const Imf::Header &header = file.header();
  EXPECT_TRUE(file.isComplete());
  EXPECT_EQ(header.compression(), Imf::NO_COMPRESSION);
  EXPECT_EQ(header.lineOrder(), Imf::INCREASING_Y);
  EXPECT_EQ(header.dataWindow(), Imath::Box2i({0, 0}, {width - 1, height - 1}));
  EXPECT_EQ(header.displayWindow(), header.dataWindow());
  EXPECT_EQ(header.pixelAspectRatio(), 1.0f);
  EXPECT_EQ(header.screenWindowCenter(), Imath::V2f(0.0f, 0.0f));
  EXPECT_EQ(header.screenWindowWidth(), 1.0f);
  for (const char *name : {"A", "B", "G", "R"}) { // the order is checked on the bytes above
    const Imf::Channel *channel = header.channels().findChannel(name);
    ASSERT_NE(channel, nullptr) << name;
    EXPECT_TRUE(channel->type == Imf::HALF && channel->xSampling == 1 && channel->ySampling == 1);
  }
  std::vector<Imath::half> read(image.size());
  Imf::FrameBuffer frame;
  const char *rgba[4] = {"R", "G", "B", "A"};
  for (int c = 0; c < 4; ++c) {
    frame.insert(rgba[c], Imf::Slice(Imf::HALF, reinterpret_cast<char *>(read.data() + c),
                                     4 * sizeof(Imath::half), 4 * sizeof(Imath::half) * width));
  }
  file.setFrameBuffer(frame);
  file.readPixels(0, height - 1);
  for (std::size_t i = 0; i < image.size(); ++i) {
    ASSERT_EQ(read[i].bits(), floatToHalf(image[i])) << "value " << i << " " << image[i];
  }
  EXPECT_EQ(read[37].bits(), 0x7C00);
  EXPECT_EQ(read[38].bits(), 0xFE00);
  EXPECT_EQ(read[39].bits(), 0x7C00);
}

} // namespace
