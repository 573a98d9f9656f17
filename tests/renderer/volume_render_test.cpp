#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "backend_fixture.h"
#include "particle_ball.h"
#include "scene_records.h"

namespace {

using VolumeRender = ek::test::BackendTest;
using ek::test::uploadBall;

constexpr int kSize = 64;

EKCamera frontCamera() { return ek::test::lookingAt({0, 0, 40}, {0, 0, 0}, 20); }

EKRenderSettings volumeSettings() { return ek::test::volumeSettings(kSize, kSize, 3, 64, 32, 16); }

std::vector<float> renderFloat(EKContext *context, const EKRenderSettings &settings,
                               const std::vector<EKLight> &lights) {
  const EKCamera camera = frontCamera();
  std::vector<float> image(size_t(kSize) * kSize * 4, -1);
  EXPECT_EQ(ekRender(context, &camera, &settings, lights.data(), int(lights.size()), nullptr,
                     image.data(), nullptr),
            0)
      << ekLastError(context);
  return image;
}

// Mean red of the left and right thirds of the image.
std::pair<float, float> leftAndRight(const std::vector<float> &image) {
  float left = 0, right = 0;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize / 3; ++x) {
      left += image[(size_t(y) * kSize + x) * 4];
      right += image[(size_t(y) * kSize + kSize - 1 - x) * 4];
    }
  return {left, right};
}

TEST_P(VolumeRender, EmptySceneIsTransparent) {
  EKLight light{};
  light.type = 0;
  light.castsShadows = 1;
  light.color[0] = 1;
  const std::vector<float> image = renderFloat(context, volumeSettings(), {light});
  for (float v : image)
    ASSERT_EQ(v, 0.0f);
  EXPECT_NE(context->cameraDepth.get(), nullptr);
  EXPECT_NE(context->shadowMaps.get(), nullptr);
  // The largest repopulation: its 2^31 copies per particle are counted in 64 bits.
  EKRenderSettings most = volumeSettings();
  most.repopulation = INT32_MAX;
  for (float v : renderFloat(context, most, {light}))
    ASSERT_EQ(v, 0.0f);
}

TEST_P(VolumeRender, ALightBehindADenseCloudDarkensItsFarSide) {
  uploadBall(context, 20000);
  EKLight sun{};
  sun.type = 2;
  sun.direction = {-1, 0, 0}; // shines from +x towards -x
  sun.color[0] = sun.color[1] = sun.color[2] = 2;
  sun.castsShadows = 1;
  const auto [shadowedLeft, shadowedRight] =
      leftAndRight(renderFloat(context, volumeSettings(), {sun}));
  EXPECT_GT(shadowedRight, 0.0f);
  EXPECT_LT(shadowedLeft, 0.3f * shadowedRight) << "the far side lies in the cloud's shadow";

  sun.castsShadows = 0;
  const auto [litLeft, litRight] = leftAndRight(renderFloat(context, volumeSettings(), {sun}));
  EXPECT_GT(litLeft, 0.7f * litRight) << "without shadows both sides are lit alike";
  EXPECT_NEAR(litRight, shadowedRight, 0.35f * litRight) << "the lit side barely changes";
}

// Two particles, one behind the other as the sun sees them. Each sample stands for far more than a
// texel of the sun's map; it may shade what lies behind it at most as thickly as a sample covers a
// pixel (thickness 1), so the far particle keeps at least e^-2 of its light (the near one's
// thickness and up to its own).
TEST_P(VolumeRender, ASparseCloudShadowsNoDarkerThanItLooks) {
  const std::vector<EKV3> pair = {{3, 0, 0}, {-3, 0, 0}};
  ASSERT_EQ(ekReserve(context, pair.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, pair.data(), nullptr, nullptr, pair.size(), 0), 0);
  EKRenderSettings settings = volumeSettings();
  settings.radius = 0.05f;
  EKLight sun{};
  sun.type = 2;
  sun.direction = {-1, 0, 0}; // shines from +x towards -x
  sun.color[0] = sun.color[1] = sun.color[2] = 2;
  sun.castsShadows = 1;
  const auto [shadowedFar, shadowedNear] = leftAndRight(renderFloat(context, settings, {sun}));
  sun.castsShadows = 0;
  const auto [litFar, litNear] = leftAndRight(renderFloat(context, settings, {sun}));
  ASSERT_GT(litFar, 0.0f);
  ASSERT_GT(litNear, 0.0f);
  EXPECT_GT(shadowedFar, std::exp(-2.0f) * litFar);
  EXPECT_LT(shadowedFar, litFar) << "the near particle still shades the far one";
  EXPECT_GT(shadowedNear, std::exp(-1.0f) * litNear);
}

TEST_P(VolumeRender, AlphaComesFromTheOpticalDepth) {
  uploadBall(context, 5000);
  EKRenderSettings settings = volumeSettings();
  settings.ambient[0] = settings.ambient[1] = settings.ambient[2] = 0.5f;
  const std::vector<float> image = renderFloat(context, settings, {});
  const size_t centre = (size_t(kSize / 2) * kSize + kSize / 2) * 4;
  EXPECT_GT(image[centre + 3], 0.9f) << "the ball is opaque at its centre";
  EXPECT_EQ(image[3], 0.0f) << "and transparent outside";
  EXPECT_GT(image[centre], 0.0f) << "ambient light alone lights it";
  settings.density = 0;
  const std::vector<float> none = renderFloat(context, settings, {});
  EXPECT_EQ(none[centre + 3], 0.0f) << "no density, no medium";
}

TEST_P(VolumeRender, SmallerSecondRenderReusesTheShadowBuffer) {
  uploadBall(context, 1000);
  EKLight point{};
  point.position = {20, 0, 0};
  point.color[0] = 1;
  point.castsShadows = 1;
  renderFloat(context, volumeSettings(), {point, point});
  const ek::MapCell *maps = context->shadowMaps.get();
  const uint64_t capacity = context->shadowMaps.size();
  EXPECT_EQ(capacity, 12ull * 32 * 64 * 64);
  renderFloat(context, volumeSettings(), {point});
  EXPECT_EQ(context->shadowMaps.get(), maps);
  EXPECT_EQ(context->shadowMaps.size(), capacity);
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(VolumeRender);

// Two contexts on one device render volumes from two threads at once, one lit by a sun and the
// other by no light at all: every image is the one its context renders alone, so neither render
// ever shades with the other's lights.
using SeparateContexts = ek::test::BackendTest;

// Equal up to the order of the float additions of the shadow maps, which the GPU does not fix.
int countDiffering(const std::vector<float> &image, const std::vector<float> &expected) {
  int differing = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    differing += !(std::fabs(image[i] - expected[i]) <= 1e-4f);
  return image.size() == expected.size() ? differing : int(expected.size());
}

TEST_P(SeparateContexts, RenderVolumesAtOnceEachWithItsOwnLights) {
  EKContext *dark = ekCreate(GetParam().device);
  ASSERT_STREQ(ekLastError(dark), "");
  uploadBall(context, 3000);
  uploadBall(dark, 3000);
  EKLight sun{};
  sun.type = 2;
  sun.direction = {-1, 0, 0};
  sun.color[0] = 2;
  sun.castsShadows = 1;
  const std::vector<float> litAlone = renderFloat(context, volumeSettings(), {sun});
  const std::vector<float> darkAlone = renderFloat(dark, volumeSettings(), {});
  ASSERT_GT(leftAndRight(litAlone).second, 0.0f) << "the sun lights the right side";
  ASSERT_EQ(leftAndRight(darkAlone).second, 0.0f) << "no light, no ambient: black";

  // Several rounds, so that the passes of one render fall between those of the other.
  constexpr int kRounds = 8;
  int litWrong = 0, darkWrong = 0;
  std::thread other([&] {
    for (int k = 0; k < kRounds; ++k)
      darkWrong += countDiffering(renderFloat(dark, volumeSettings(), {}), darkAlone);
  });
  for (int k = 0; k < kRounds; ++k)
    litWrong += countDiffering(renderFloat(context, volumeSettings(), {sun}), litAlone);
  other.join();
  ekDestroy(dark);
  EXPECT_EQ(litWrong, 0) << "floats of the lit renders that differ from the lone render's";
  EXPECT_EQ(darkWrong, 0) << "floats of the dark renders that differ from the lone render's";
}

EK_INSTANTIATE_FOR_BACKENDS(SeparateContexts);

} // namespace

namespace {

using Bounds = ek::test::BackendTest;

// The bounds pass over 37 particles (a partly filled last warp on CUDA) with every coordinate
// negative, through the device of each backend. Three broken particles among them (a coordinate
// or a velocity that is not finite) are left out of the measure.
TEST_P(Bounds, NegativeCoordinatesAndAPartWarp) {
  const float nan = std::nanf(""), infinity = INFINITY;
  std::vector<EKV3> positions, velocities;
  for (int i = 0; i < 40; ++i) {
    positions.push_back({-1.0f - i, -100.0f + 0.5f * i, -3.0f - (i % 5)});
    velocities.push_back({0, i == 20 ? -4.0f : 0.5f, 0});
  }
  positions[3].y = nan;
  positions[38] = {infinity, 0, -infinity};
  velocities[39].z = -infinity;
  ASSERT_EQ(ekReserve(context, 40, 1), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, velocities.data(), 40, 0), 0);
  ek::Device &device = *context->backend;
  void *bounds = nullptr;
  void *moments = nullptr;
  ASSERT_EQ(device.allocate(&bounds, 32), ek::kDeviceOk);
  ASSERT_EQ(device.allocate(&moments, 56), ek::kDeviceOk);
  const float initial[7] = {3.4e38f, 3.4e38f, 3.4e38f, -3.4e38f, -3.4e38f, -3.4e38f, 0};
  ASSERT_EQ(device.copyToDevice(bounds, initial, sizeof initial), ek::kDeviceOk);
  ASSERT_EQ(device.fill(moments, 0, 56), ek::kDeviceOk);
  device.launch(1024, ek::BoundsArgs{context->positions.get(), context->velocities.get(), 40,
                                     static_cast<float *>(bounds), static_cast<double *>(moments)});
  ASSERT_EQ(device.takeLaunchError(), ek::kDeviceOk);
  positions.erase(positions.begin() + 38, positions.end());
  positions.erase(positions.begin() + 3);
  float b[7];
  double m[7];
  ASSERT_EQ(device.copyToHost(b, bounds, sizeof b), ek::kDeviceOk);
  ASSERT_EQ(device.copyToHost(m, moments, sizeof m), ek::kDeviceOk);
  EXPECT_EQ(m[6], 37.0) << "particles measured";
  EXPECT_EQ(b[0], -38.0f);
  EXPECT_EQ(b[1], -100.0f);
  EXPECT_EQ(b[2], -7.0f);
  EXPECT_EQ(b[3], -1.0f);
  EXPECT_EQ(b[4], -81.5f);
  EXPECT_EQ(b[5], -3.0f);
  EXPECT_EQ(b[6], 16.0f) << "largest squared speed";
  double sumX = 0, sumSquaresY = 0;
  for (const EKV3 &p : positions) {
    sumX += p.x;
    sumSquaresY += double(p.y) * p.y;
  }
  EXPECT_DOUBLE_EQ(m[0], sumX);
  EXPECT_DOUBLE_EQ(m[4], sumSquaresY);
  device.release(bounds);
  device.release(moments);
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(Bounds);

} // namespace
