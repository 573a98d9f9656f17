#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "camera_setup.h"
#include "options.h"
#include "progress.h"

namespace {

using ekrender::Options;

bool parse(std::vector<const char *> args, Options &options, std::string &error) {
  args.insert(args.begin(), "ekrender");
  return ekrender::parseOptions(int(args.size()), args.data(), options, error);
}

TEST(EkrenderOptions, ParsesValuesInBothSpellings) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--size", "640x360", "--eye=1,2,3", "--device", "cuda:2", "--samples", "8",
                     "--spherical", "-90,90,-45,45", "--output", "a.exr", "--transparent"},
                    o, error))
      << error;
  EXPECT_EQ(o.width, 640);
  EXPECT_EQ(o.height, 360);
  EXPECT_TRUE(o.eyeGiven);
  EXPECT_EQ(o.eye.z, 3.0f);
  EXPECT_EQ(o.device, "cuda:2");
  EXPECT_EQ(o.samples, 8);
  EXPECT_TRUE(o.spherical);
  EXPECT_EQ(o.latMin, -45.0f);
  EXPECT_TRUE(o.transparent);
  ekrender::OutputFormat format;
  ASSERT_TRUE(ekrender::outputFormat(o, format));
  EXPECT_EQ(format, ekrender::OutputFormat::Exr);
}

TEST(EkrenderOptions, BadValuesAreNamed) {
  Options o;
  std::string error;
  EXPECT_FALSE(parse({"--size", "640"}, o, error));
  EXPECT_EQ(error, "--size expects WxH, got \"640\"");
  EXPECT_FALSE(parse({"--device", "gpu"}, o, error));
  EXPECT_EQ(error, "--device expects auto|cpu|cuda:N, got \"gpu\"");
  EXPECT_FALSE(parse({"--eye", "1,2"}, o, error));
  EXPECT_FALSE(parse({"--samples", "0"}, o, error));
  EXPECT_FALSE(parse({"--fov"}, o, error));
  EXPECT_EQ(error, "--fov: 1 required DEGREES missing");
  EXPECT_FALSE(parse({"--bogus"}, o, error));
  EXPECT_EQ(error, "unknown option \"--bogus\" (see --help)");
  Options png;
  png.output = "picture.tiff";
  ekrender::OutputFormat format;
  EXPECT_FALSE(ekrender::outputFormat(png, format));
}

TEST(EkrenderOptions, VolumetricLightsFromTheCommandLine) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--volumetric", "--shadows", "high", "--light",
                     "spot:pos=0,80,120:dir=0,-1,-1:color=3,2,1:cone=50,35:falloff=square:"
                     "radius=40:shadows=off",
                     "--light", "directional:dir=1,0,0"},
                    o, error))
      << error;
  EXPECT_TRUE(o.volumetric);
  EXPECT_EQ(o.shadowMapSize, 1024);
  EXPECT_EQ(o.shadowSlices, 96);
  EXPECT_EQ(o.cameraSlices, 48);
  ASSERT_EQ(o.lights.size(), 2u);
  const EKLight &spot = o.lights[0];
  EXPECT_EQ(spot.type, 1);
  EXPECT_EQ(spot.position.z, 120.0f);
  EXPECT_EQ(spot.color[2], 1.0f);
  EXPECT_EQ(spot.outerAngle, 50.0f);
  EXPECT_EQ(spot.innerAngle, 35.0f);
  EXPECT_EQ(spot.falloff, 1);
  EXPECT_EQ(spot.falloffRadius, 40.0f);
  EXPECT_EQ(spot.castsShadows, 0);
  EXPECT_EQ(o.lights[1].type, 2);
  EXPECT_EQ(o.lights[1].castsShadows, 1) << "shadows are on unless turned off";

  EXPECT_FALSE(parse({"--light", "laser:pos=1,2,3"}, o, error));
  EXPECT_NE(error.find("unknown light type \"laser\""), std::string::npos) << error;
  EXPECT_FALSE(parse({"--light", "point:pos=1,2"}, o, error));
  EXPECT_NE(error.find("bad value for light key \"pos\""), std::string::npos) << error;
  EXPECT_FALSE(parse({"--light", "point:glow=2"}, o, error));
  EXPECT_NE(error.find("unknown light key \"glow\""), std::string::npos) << error;
}

// A colour that no float holds, or a negative one, is refused naming the light and the reason;
// zero and the largest float are colours.
TEST(EkrenderOptions, LightColoursBeyondFloatsOrBelowZeroAreRefused) {
  const std::string first = "point:pos=0,50,0";
  const struct {
    const char *color;
    const char *why;
  } refused[] = {
      {"1e300,1,1", "color 1e300 is beyond a float's range (at most 3.4e38)"},
      {"1,-1e300,1", "color -1e300 is beyond a float's range (at most 3.4e38)"},
      {"1,1,inf", "color inf is beyond a float's range (at most 3.4e38)"},
      {"1,-0.5,1", "color -0.5 is negative: a light adds light and cannot take it away"},
      {"1,1", "bad value for light key \"color\": \"1,1\""},
  };
  for (const auto &c : refused) {
    Options o;
    std::string error;
    const std::string second = "spot:color=" + std::string(c.color) + ":cone=40";
    EXPECT_FALSE(parse({"--light", first.c_str(), "--light", second.c_str()}, o, error));
    EXPECT_EQ(error, "--light \"" + second + "\": " + c.why);
  }
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--light", "point:color=0,3.4e38,-0"}, o, error)) << error;
  EXPECT_EQ(o.lights[0].color[1], 3.4e38f);
}

TEST(EkrenderOptions, HelpNamesEveryOption) {
  const std::string help = ekrender::helpText();
  for (const char *name : {"--device", "--input", "--size", "--eye", "--spherical", "--samples",
                           "--focus", "--shutter", "--frames", "--format", "--start", "--chunk",
                           "--skip-existing", "--allow-missing", "--config", "$F4"})
    EXPECT_NE(help.find(name), std::string::npos) << name;
}

TEST(EkrenderCamera, FramesTheParticlesAndTurnsAroundTheTarget) {
  Options o;
  ekrender::Bounds bounds{{-1, -1, -1}, {3, 1, 1}};
  const EKCamera first = ekrender::cameraFor(o, bounds, 0, 4);
  EXPECT_EQ(first.target.x, 1.0f);
  EXPECT_GT(first.eye.z, 1.0f) << "in front of the particles";
  EXPECT_GT(first.eye.y, 0.0f) << "looking down on them";
  const EKCamera quarter = ekrender::cameraFor(o, bounds, 1, 4);
  EXPECT_NEAR(quarter.eye.z, 0.0f, 1e-4f) << "a quarter turn about +y";
  EXPECT_NEAR(quarter.eye.x - 1.0f, first.eye.z, 1e-4f);
  EXPECT_EQ(quarter.eye.y, first.eye.y);
}

// Particles that are not finite (NaN, infinity, 1e39 read as a float) are left out of the framing,
// as the renderer leaves them out of the image.
TEST(EkrenderCamera, FramingLeavesOutParticlesThatAreNotFinite) {
  const float nan = std::nanf(""), infinity = INFINITY;
  const std::vector<EKV3> good = {{-1, 0, 2}, {3, 1, -1}};
  std::vector<EKV3> mixed = {{nan, 0, 0}, good[0], {0, infinity, 0}, good[1], {0, 0, -infinity}};
  const ekrender::Bounds expected = ekrender::boundsOf(good);
  const ekrender::Bounds bounds = ekrender::boundsOf(mixed);
  EXPECT_EQ(bounds.min.x, expected.min.x);
  EXPECT_EQ(bounds.min.z, -1.0f);
  EXPECT_EQ(bounds.max.y, expected.max.y);
  EXPECT_EQ(bounds.max.z, 2.0f);
  const ekrender::Bounds none = ekrender::boundsOf({{nan, nan, nan}});
  EXPECT_EQ(none.max.x, ekrender::Bounds{}.max.x) << "nothing finite: the default framing";
}

TEST(EkrenderProgress, BarAndTimeLeft) {
  EXPECT_EQ(ekrender::ProgressBar::line(0, 4, 0, 8), "[--------] 0/4");
  EXPECT_EQ(ekrender::ProgressBar::line(1, 4, 75.4, 8), "[##------] 1/4  01:15 left");
  EXPECT_EQ(ekrender::ProgressBar::line(4, 4, 0, 8), "[########] 4/4");
  EXPECT_EQ(ekrender::ProgressBar::line(2, 4, 3725, 8), "[####----] 2/4  1:02:05 left");
  EXPECT_EQ(ekrender::ProgressBar::plainLine(2, 5, "frame 12: wrote a.png"),
            "Progress: 40% (2/5) frame 12: wrote a.png");
}

} // namespace
