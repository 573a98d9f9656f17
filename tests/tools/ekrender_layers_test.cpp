// ekrender --layers end to end, read back with OpenEXR: one multi-layer file per frame with the
// channels compositors look for, in their sample types, a depth that matches the scene, and the
// lists ekrender refuses before it renders or writes anything.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfStandardAttributes.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using ChannelTypes = std::map<std::string, Imf::PixelType>;

class EkrenderLayers : public ::testing::Test {
protected:
  static constexpr int kSide = 32;

  void SetUp() override {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    // A dense clump of particles at the origin, 10 units in front of the camera.
    std::ofstream csv(folder_ / "clump.csv");
    csv << "x,y,z,r,g,b\n";
    for (int i = 0; i < 400; ++i)
      csv << 0.01f * float(i % 20 - 10) << "," << 0.01f * float(i / 20 - 10) << ",0,200,120,40\n";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs ekrender on the CPU with `arguments`, writing `output` in the test's folder; its exit
  // status.
  int ekrender(const std::string &output, const std::string &arguments) {
    const std::string command = std::string("\"") + EKRENDER + "\" --device cpu " + arguments +
                                " --output \"" + (folder_ / output).string() + "\" >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Runs ekrender on the clump seen from 10 units away; its exit status.
  int run(const std::string &output, const std::string &extra) {
    return ekrender(output, "--input \"" + (folder_ / "clump.csv").string() +
                                "\" --eye 0,0,10 --target 0,0,0 --size 32x32 --radius 0.2 " +
                                extra);
  }

  static ChannelTypes channelsOf(const Imf::InputFile &file) {
    ChannelTypes types;
    for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it)
      types[it.name()] = it.channel().type;
    return types;
  }

  static std::vector<float> read(Imf::InputFile &file, const char *channel, int width = kSide,
                                 int height = kSide) {
    std::vector<float> values(size_t(width) * size_t(height), -1.0f);
    Imf::FrameBuffer frame;
    frame.insert(channel, Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(values.data()),
                                     sizeof(float), sizeof(float) * width));
    file.setFrameBuffer(frame);
    file.readPixels(0, height - 1);
    return values;
  }

  // A folder of each test's own: ctest runs the tests of this file side by side.
  const fs::path folder_ =
      fs::temp_directory_path() /
      ("ekrender_layers_" +
       std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
       std::to_string(getpid()));
};

TEST_F(EkrenderLayers, AdditiveLayersHaveTheirChannelsAndTheClumpsDepth) {
  ASSERT_EQ(run("layers.exr", "--layers depth,motion,emission,coverage,raw"), 0);
  Imf::InputFile file((folder_ / "layers.exr").string().c_str());
  EXPECT_EQ(file.header().compression(), Imf::ZIP_COMPRESSION);
  const ChannelTypes expected = {
      {"A", Imf::HALF},           {"B", Imf::HALF},           {"G", Imf::HALF},
      {"R", Imf::HALF},           {"Z", Imf::FLOAT},          {"backward.u", Imf::FLOAT},
      {"backward.v", Imf::FLOAT}, {"coverage.Y", Imf::FLOAT}, {"emission.B", Imf::HALF},
      {"emission.G", Imf::HALF},  {"emission.R", Imf::HALF},  {"forward.u", Imf::FLOAT},
      {"forward.v", Imf::FLOAT},  {"raw.B", Imf::FLOAT},      {"raw.G", Imf::FLOAT},
      {"raw.R", Imf::FLOAT}};
  EXPECT_EQ(channelsOf(file), expected);

  const std::vector<float> z = read(file, "Z");
  const std::vector<float> coverage = read(file, "coverage.Y");
  const std::vector<float> red = read(file, "R");
  const std::vector<float> emission = read(file, "emission.R");
  const int centre = kSide / 2 * kSide + kSide / 2;
  EXPECT_GT(coverage[centre], 0.0f);
  EXPECT_NEAR(z[centre], 10.0f, 0.5f);
  EXPECT_GT(red[centre], 0.0f);
  // The additive look's emission is all of the beauty's colour.
  EXPECT_NEAR(emission[centre], red[centre], 0.01f * red[centre]);
  // A corner shows nothing: no coverage, and the depth of nothing, far beyond the scene.
  EXPECT_EQ(coverage[0], 0.0f);
  EXPECT_GT(z[0], 1e9f);

  // The camera at 0,0,10 looking at the origin: the origin lies 10 units down the view (-z), and
  // the world's x and y axes are the camera's right and up.
  ASSERT_TRUE(Imf::hasWorldToCamera(file.header()));
  const Imath::M44f &toCamera = Imf::worldToCamera(file.header());
  const Imath::V3f origin = Imath::V3f(0, 0, 0) * toCamera;
  const Imath::V3f rightAndUp = Imath::V3f(1, 2, 0) * toCamera;
  EXPECT_NEAR((origin - Imath::V3f(0, 0, -10)).length(), 0.0f, 1e-5f);
  EXPECT_NEAR((rightAndUp - Imath::V3f(1, 2, -10)).length(), 0.0f, 1e-5f);
}

TEST_F(EkrenderLayers, VolumetricLightsAreOneLayerEachAndCompressionIsChosen) {
  ASSERT_EQ(run("lit.exr", "--volumetric --light point:pos=0,5,5 --light directional:dir=0,-1,0 "
                           "--layers lights,ambient,forward --exr-compression none"),
            0);
  Imf::InputFile file((folder_ / "lit.exr").string().c_str());
  EXPECT_EQ(file.header().compression(), Imf::NO_COMPRESSION);
  const ChannelTypes expected = {
      {"A", Imf::HALF},         {"B", Imf::HALF},          {"G", Imf::HALF},
      {"R", Imf::HALF},         {"ambient.B", Imf::HALF},  {"ambient.G", Imf::HALF},
      {"ambient.R", Imf::HALF}, {"forward.u", Imf::FLOAT}, {"forward.v", Imf::FLOAT},
      {"light1.B", Imf::HALF},  {"light1.G", Imf::HALF},   {"light1.R", Imf::HALF},
      {"light2.B", Imf::HALF},  {"light2.G", Imf::HALF},   {"light2.R", Imf::HALF}};
  EXPECT_EQ(channelsOf(file), expected);
  // One light alone by its number, the second.
  ASSERT_EQ(run("second.exr", "--volumetric --light point:pos=0,5,5 --light directional:dir=0,-1,0 "
                              "--layers light2"),
            0);
  Imf::InputFile second((folder_ / "second.exr").string().c_str());
  EXPECT_EQ(channelsOf(second).count("light2.R"), 1u);
  EXPECT_EQ(channelsOf(second).count("light1.R"), 0u);
}

TEST_F(EkrenderLayers, ATurntableWritesTheLayersOfEveryFrame) {
  ASSERT_EQ(run("turn.exr", "--frames 2 --layers depth"), 0);
  for (const char *name : {"turn_0000.exr", "turn_0001.exr"}) {
    Imf::InputFile file((folder_ / name).string().c_str());
    EXPECT_EQ(channelsOf(file).count("Z"), 1u) << name;
    EXPECT_NEAR(read(file, "Z")[kSide / 2 * kSide + kSide / 2], 10.0f, 0.5f) << name;
  }
}

TEST_F(EkrenderLayers, WorldToNdcPutsAPointWhereTheRenderShowsIt) {
  // Particles at one world point, off the centre of a wide image seen at an angle: the header's
  // projection must land it in the pixel that lights up.
  constexpr int kWidth = 48, kHeight = 30;
  const Imath::V3f point(1.3f, -0.7f, 1.9f);
  {
    std::ofstream csv(folder_ / "point.csv");
    csv << "x,y,z,r,g,b\n";
    for (int i = 0; i < 20; ++i)
      csv << point.x << "," << point.y << "," << point.z << ",255,255,255\n";
    csv << "-2,1.5,-1,255,255,255\n"; // a second point keeps the framing from centring the first
  }
  const std::string scene = "--input \"" + (folder_ / "point.csv").string() +
                            "\" --eye 3,2,12 --target 0,0.5,0 --up 0.1,1,0 --fov 40 --size " +
                            std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                            " --layers raw";
  ASSERT_EQ(ekrender("point.exr", scene), 0);
  Imf::InputFile file((folder_ / "point.exr").string().c_str());
  ASSERT_TRUE(Imf::hasWorldToNDC(file.header()));
  Imath::V3f ndc;
  Imf::worldToNDC(file.header()).multVecMatrix(point, ndc); // divides by w
  // The raw sum, before the exposure curve can even out the two points.
  const std::vector<float> red = read(file, "raw.R", kWidth, kHeight);
  const size_t brightest = size_t(std::max_element(red.begin(), red.end()) - red.begin());
  ASSERT_GT(red[brightest], 0.0f);
  EXPECT_NEAR(ndc.x * kWidth, float(brightest % kWidth) + 0.5f, 1.0f);
  EXPECT_NEAR(ndc.y * kHeight, float(brightest / kWidth) + 0.5f, 1.0f);

  // A spherical camera's projection is no matrix: the header leaves it out.
  ASSERT_EQ(ekrender("sphere.exr", scene + " --spherical -180,180,-90,90"), 0);
  Imf::InputFile sphere((folder_ / "sphere.exr").string().c_str());
  EXPECT_TRUE(Imf::hasWorldToCamera(sphere.header()));
  EXPECT_FALSE(Imf::hasWorldToNDC(sphere.header()));
}

TEST_F(EkrenderLayers, BadListsAreRefusedBeforeAnythingIsWritten) {
  const std::string lights = "--volumetric --light point:pos=0,5,5 --light point:pos=0,-5,5 ";
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"bad.exr", "--layers depth,halo"},
      {"bad.exr", "--layers depth,,raw"},
      {"bad.exr", "--layers ambient"},
      {"bad.exr", "--layers light1"},
      {"bad.exr", lights + "--layers light3"},
      {"bad.exr", lights + "--layers light01"},
      {"bad.exr", "--volumetric --layers lights"},
      {"bad.exr", "--layers depth --exr-compression piz"},
      {"bad.png", "--layers depth"},
  };
  for (const auto &[output, extra] : refused) {
    EXPECT_EQ(run(output, extra), 2) << extra;
    EXPECT_FALSE(fs::exists(folder_ / output)) << extra;
  }
}

} // namespace
