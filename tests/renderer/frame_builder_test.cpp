#include <gtest/gtest.h>

#include <cmath>

#include "frame_builder.h"
#include "scene_records.h"

extern "C" int ekHeaderCompilesAsC(void);

namespace {

EKCamera lookingDownZ() { return ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, 60); }

EKRenderSettings fullHd() {
  EKRenderSettings settings{};
  settings.width = 1920;
  settings.height = 1080;
  settings.brightness = 2;
  settings.samples = 4;
  return settings;
}

TEST(FrameBuilder, HeaderIsPlainC) { EXPECT_EQ(ekHeaderCompilesAsC(), 1); }

TEST(FrameBuilder, PerspectiveFrameOfAFullHdImage) {
  EKCamera camera = lookingDownZ();
  camera.eye = {1, 2, 3};
  camera.target = {1, 2, -7};
  // Stereo fields are ignored by the perspective camera.
  camera.eyeOffset = 0.3f;
  camera.topMergeMode = 2;
  camera.topMergeExponent = 4;
  const ek::Frame f = ek::buildFrame(camera, fullHd());
  EXPECT_EQ(f.scaleY, 1.7320509f);
  EXPECT_EQ(f.scaleX, 0.9742786f);
  EXPECT_EQ(f.width, 1920);
  EXPECT_EQ(f.height, 1080);
  EXPECT_EQ(f.samples, 4);
  EXPECT_FLOAT_EQ(f.gain, 0.5f);
  EXPECT_FLOAT_EQ(f.colorGain, 2.0f * 0.003921569f / 4.0f);
  EXPECT_EQ(f.nearClip, 0.01f);
  EXPECT_FLOAT_EQ(f.pixelArea, (2.0f / (1920 * f.scaleX)) * (2.0f / (1080 * f.scaleY)));
  // View rows: right, up, backwards; translations move the eye to the origin.
  const float expected[12] = {1, 0, 0, -1, 0, 1, 0, -2, 0, 0, 1, -3};
  for (int i = 0; i < 12; ++i)
    EXPECT_FLOAT_EQ(f.view[i], expected[i]) << i;
  EXPECT_EQ(f.projection, 0);
  EXPECT_EQ(f.eyeOffset, 0.0f);
  EXPECT_EQ(f.topMergeMode, 0);
  EXPECT_EQ(f.topMergeExponent, 1.0f);
  EXPECT_EQ(f.bottomMergeExponent, 1.0f);
}

TEST(FrameBuilder, ClampsSamplesRepopulationAndShutter) {
  EKRenderSettings settings = fullHd();
  settings.samples = 0;
  settings.repopulation = -3;
  settings.shutter = -1;
  settings.seed = 0xDEADBEEF;
  const ek::Frame f = ek::buildFrame(lookingDownZ(), settings);
  EXPECT_EQ(f.samples, 1);
  EXPECT_EQ(f.gain, settings.brightness);
  EXPECT_EQ(f.repopulation, 0);
  EXPECT_EQ(f.shutter, 0.0f);
  EXPECT_EQ(f.seed, 0xDEADBEEFu);
}

TEST(FrameBuilder, LensNeedsApertureAndFocus) {
  EKCamera camera = lookingDownZ();
  camera.focusDistance = 5;
  ek::Frame f = ek::buildFrame(camera, fullHd());
  EXPECT_EQ(f.apertureRadius, 0.0f);
  EXPECT_EQ(f.invFocusDistance, 0.2f);
  camera.aperture = 0.25f;
  f = ek::buildFrame(camera, fullHd());
  EXPECT_EQ(f.apertureRadius, 0.25f);
  camera.focusDistance = 0;
  f = ek::buildFrame(camera, fullHd());
  EXPECT_EQ(f.apertureRadius, 0.0f);
  EXPECT_EQ(f.invFocusDistance, 0.0f);
}

TEST(FrameBuilder, DegenerateCameraStillGivesAFrame) {
  EKCamera camera = lookingDownZ();
  camera.target = camera.eye;
  const ek::Frame f = ek::buildFrame(camera, fullHd());
  for (float v : f.view)
    EXPECT_FALSE(std::isnan(v));
}

TEST(FrameBuilder, SphericalRangesAreRepaired) {
  EKCamera camera = lookingDownZ();
  camera.projection = EK_PROJECTION_SPHERICAL;
  camera.aperture = 1;
  camera.focusDistance = 3;
  camera.latMin = -100;
  camera.latMax = 100;
  ek::Frame f = ek::buildFrame(camera, fullHd());
  EXPECT_EQ(f.projection, 1);
  EXPECT_FLOAT_EQ(f.lonMin, -180 * 0.017453292f)
      << "an empty longitude range becomes the full circle";
  EXPECT_FLOAT_EQ(f.lonSpan, 360 * 0.017453292f);
  EXPECT_FLOAT_EQ(f.latMax, 90 * 0.017453292f);
  EXPECT_FLOAT_EQ(f.latSpan, 180 * 0.017453292f);
  EXPECT_EQ(f.apertureRadius, 0.0f) << "no lens in the spherical projection";
  EXPECT_EQ(f.invFocusDistance, 0.0f);
  EXPECT_FLOAT_EQ(f.pixelArea, (f.latSpan / 1080) * (f.lonSpan / 1920));

  camera.lonMin = -200;
  camera.lonMax = 300;
  camera.latMin = 10;
  camera.latMax = 10;
  camera.eyeOffset = -0.032f;
  camera.zeroParallaxDistance = -4;
  camera.topMergeMode = 2;
  camera.bottomMergeMode = 1;
  camera.topMergeAngle = 30;
  camera.topMergeExponent = 3;
  camera.bottomMergeExponent = 0.5f;
  f = ek::buildFrame(camera, fullHd());
  EXPECT_FLOAT_EQ(f.lonMin, -200 * 0.017453292f);
  EXPECT_FLOAT_EQ(f.lonSpan, 360 * 0.017453292f) << "-200..300 becomes -200..160";
  EXPECT_FLOAT_EQ(f.latSpan, 180 * 0.017453292f) << "an empty latitude range becomes -90..90";
  EXPECT_EQ(f.eyeOffset, -0.032f);
  EXPECT_EQ(f.zeroParallaxDistance, 0.0f);
  EXPECT_EQ(f.topMergeMode, 2);
  EXPECT_EQ(f.bottomMergeMode, 1);
  EXPECT_FLOAT_EQ(f.topMergeAngle, 30 * 0.017453292f);
  EXPECT_EQ(f.topMergeExponent, 3.0f);
  EXPECT_EQ(f.bottomMergeExponent, 0.5f);
}

} // namespace
