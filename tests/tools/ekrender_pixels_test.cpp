// ekrender end to end, read back with OpenEXR: three coloured particles seen from straight ahead
// land on the pixels worked out by hand from the camera, with their own colours, on an image that
// is black and transparent everywhere else, with no negative or non-finite value anywhere.
#include <gtest/gtest.h>

#include <ImfArray.h>
#include <ImfRgbaFile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Pixel {
  float r, g, b, a;
};

class EkrenderPixels : public ::testing::Test {
protected:
  static constexpr int kSide = 32;

  void SetUp() override {
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    // Red right of the centre, green left of it, blue above it: x, y, z, red, green, blue.
    std::ofstream(folder_ / "three.csv") << "x,y,z,r,g,b\n"
                                            "2,0.1,0,255,0,0\n"
                                            "-2,0.1,0,0,255,0\n"
                                            "0.1,2,0,0,0,255\n";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Renders the three particles from 10 units in front of them into an EXR and reads it back.
  std::vector<Pixel> render(const std::string &name, const std::string &extra) {
    const fs::path output = folder_ / name;
    const std::string command = std::string("\"") + EKRENDER + "\" --device cpu --input \"" +
                                (folder_ / "three.csv").string() +
                                "\" --eye 0,0,10 --target 0,0,0 --size 32x32 " + extra +
                                " --output \"" + output.string() + "\" >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    Imf::RgbaInputFile file(output.string().c_str());
    const Imath::Box2i window = file.dataWindow();
    EXPECT_EQ(window.max.x - window.min.x + 1, kSide);
    EXPECT_EQ(window.max.y - window.min.y + 1, kSide);
    Imf::Array2D<Imf::Rgba> read(kSide, kSide);
    file.setFrameBuffer(&read[0][0], 1, kSide);
    file.readPixels(window.min.y, window.max.y);
    std::vector<Pixel> pixels;
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x)
        pixels.push_back({read[y][x].r, read[y][x].g, read[y][x].b, read[y][x].a});
    return pixels;
  }

  // One folder a test, as CTest may run them at once.
  const fs::path folder_ =
      fs::path(testing::TempDir()) /
      ("ekrender_pixels_" +
       std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
};

// With a vertical field of view of 45 degrees, 10 units away the image's half height of 16 pixels
// spans 10 tan(22.5°) = 4.142 units: 3.863 pixels a unit from the centre at (16, 16), rows counted
// downwards. x = 2 lands at column 16 + 7.73 (23), x = -2 at 8.27 (8), y = 2 at row 8.27 (8),
// y = 0.1 at row 15.61 (15) and x = 0.1 at column 16.39 (16).
TEST_F(EkrenderPixels, ParticlesLandOnTheirPixelsInTheirColours) {
  const std::vector<Pixel> image = render("transparent.exr", "--transparent");
  struct Lit {
    int x, y;
    int channel; // 0 red, 1 green, 2 blue
  };
  const Lit lit[] = {{23, 15, 0}, {8, 15, 1}, {16, 8, 2}};
  int litCount = 0;
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const Pixel &p = image[size_t(y * kSide + x)];
      for (float v : {p.r, p.g, p.b, p.a}) {
        ASSERT_TRUE(std::isfinite(v) && v >= 0) << x << "," << y << ": " << v;
      }
      ASSERT_LE(p.a, 1.0f) << x << "," << y;
      litCount += p.a > 0;
      const Lit *particle = nullptr;
      for (const Lit &l : lit)
        if (l.x == x && l.y == y)
          particle = &l;
      if (particle == nullptr) {
        EXPECT_TRUE(p.r == 0 && p.g == 0 && p.b == 0 && p.a == 0)
            << x << "," << y << " should be empty: " << p.r << " " << p.g << " " << p.b << " "
            << p.a;
        continue;
      }
      const float channels[3] = {p.r, p.g, p.b};
      for (int c = 0; c < 3; ++c) {
        if (c == particle->channel)
          EXPECT_GT(channels[c], 0.5f) << x << "," << y;
        else
          EXPECT_EQ(channels[c], 0.0f) << x << "," << y << " channel " << c;
      }
      EXPECT_GT(p.a, 0.5f) << x << "," << y;
    }
  }
  EXPECT_EQ(litCount, 3);
}

// Without --transparent the image lies over black: every alpha is one, the colours are the same.
TEST_F(EkrenderPixels, OpaqueImageKeepsTheColoursWithFullAlpha) {
  const std::vector<Pixel> transparent = render("transparent.exr", "--transparent");
  const std::vector<Pixel> opaque = render("opaque.exr", "");
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      const Pixel &t = transparent[size_t(y * kSide + x)], &o = opaque[size_t(y * kSide + x)];
      ASSERT_EQ(o.a, 1.0f) << x << "," << y;
      ASSERT_TRUE(o.r == t.r && o.g == t.g && o.b == t.b) << x << "," << y;
    }
  }
}

} // namespace
