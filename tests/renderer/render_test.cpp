#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "cpu/cpu_device.h"
#include "scene_records.h"

namespace {

using Render = ek::test::BackendTest;

// Camera at the origin looking down -z with a 90 degree field: scale 1, so a point at
// (x, y, -10) lands at pixel ((x / 10 + 1) / 2 x width, (1 - (y / 10 + 1) / 2) x height).
EKCamera frontCamera() { return ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, 90); }

EKRenderSettings smallImage(int width = 100, int height = 100) {
  return ek::test::imageSettings(width, height);
}

struct Images {
  std::vector<uint8_t> bytes;
  std::vector<float> floats;
};

Images render(EKContext *context, const EKCamera &camera, const EKRenderSettings &settings) {
  const size_t pixels = size_t(settings.width) * settings.height;
  Images out{std::vector<uint8_t>(pixels * 4, 7), std::vector<float>(pixels * 4, -1)};
  float ms = -1;
  EXPECT_EQ(
      ekRender(context, &camera, &settings, nullptr, 0, out.bytes.data(), out.floats.data(), &ms),
      0)
      << ekLastError(context);
  EXPECT_GE(ms, 0.0f);
  return out;
}

void upload(EKContext *context, const std::vector<EKV3> &positions,
            const std::vector<uint8_t> &colors, const std::vector<EKV3> *velocities = nullptr) {
  ASSERT_EQ(ekReserve(context, positions.size(), velocities != nullptr), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), colors.empty() ? nullptr : colors.data(),
                     velocities ? velocities->data() : nullptr, positions.size(), 0),
            0);
}

int litPixels(const Images &image) {
  int lit = 0;
  for (size_t i = 3; i < image.floats.size(); i += 4)
    lit += image.floats[i] > 0;
  return lit;
}

TEST_P(Render, EmptySceneIsTransparentBlack) {
  const Images image = render(context, frontCamera(), smallImage(8, 4));
  for (size_t i = 0; i < image.floats.size(); ++i)
    EXPECT_EQ(image.floats[i], 0.0f) << i;
  for (size_t i = 0; i < image.bytes.size(); ++i)
    EXPECT_EQ(image.bytes[i], i % 4 == 3 ? 255 : 0) << i;
}

TEST_P(Render, ArgumentChecks) {
  const EKCamera camera = frontCamera();
  EKRenderSettings settings = smallImage();
  settings.height = 0;
  EXPECT_EQ(ekRender(context, &camera, &settings, nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "ekRender: invalid parameters");
  settings = smallImage();
  EXPECT_EQ(ekRender(context, nullptr, &settings, nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(ekRender(context, &camera, nullptr, nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(ekRender(nullptr, &camera, &settings, nullptr, 0, nullptr, nullptr, nullptr), 1);
  settings.width = 65536;
  settings.height = 65536;
  EXPECT_EQ(ekRender(context, &camera, &settings, nullptr, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_STREQ(ekLastError(context), "ekRender: image too large (more than 2147483647 pixels)");
  EXPECT_EQ(context->imageWidth, 0) << "nothing was allocated for the refused size";
}

TEST_P(Render, ImageBuffersFollowTheSizeAndTheRequest) {
  const EKCamera camera = frontCamera();
  const EKRenderSettings large = smallImage(64, 48), small = smallImage(32, 24);
  ASSERT_EQ(ekRender(context, &camera, &large, nullptr, 0, nullptr, nullptr, nullptr), 0)
      << "both output pointers null still renders";
  EXPECT_EQ(context->imageWidth, 64);
  EXPECT_FALSE(context->image) << "no output image asked for, none made";
  EXPECT_FALSE(context->imageFloat);
  EXPECT_FALSE(context->totalDepth) << "the additive look needs no depth";

  std::vector<float> floats(size_t(32) * 24 * 4);
  ASSERT_EQ(ekRender(context, &camera, &small, nullptr, 0, nullptr, floats.data(), nullptr), 0);
  EXPECT_EQ(context->imageWidth, 32);
  EXPECT_EQ(context->imageHeight, 24);
  EXPECT_EQ(context->accumulator.size(), 32u * 24);
  // In host memory the images are resolved straight into the caller's; a GPU keeps copies.
  const uint64_t copy = context->backend->usesHostMemory() ? 0 : 32 * 24;
  EXPECT_EQ(context->imageFloat.size(), copy);
  EXPECT_FALSE(context->image);
  const Rgba32f *accumulator = context->accumulator.get();
  const Rgba32f *imageFloat = context->imageFloat.get();

  EKRenderSettings volume = small;
  volume.mode = EK_MODE_VOLUMETRIC;
  volume.density = 1;
  volume.shadowMapSize = 16;
  std::vector<uint8_t> bytes(size_t(32) * 24 * 4);
  ASSERT_EQ(ekRender(context, &camera, &volume, nullptr, 0, bytes.data(), floats.data(), nullptr),
            0);
  EXPECT_EQ(context->accumulator.get(), accumulator) << "same size, no reallocation";
  EXPECT_EQ(context->imageFloat.get(), imageFloat);
  EXPECT_EQ(context->image.size(), copy);
  EXPECT_EQ(context->totalDepth.size(), 32u * 24);
}

TEST_P(Render, OneParticleResolvesToTheExposureCurve) {
  // Four samples of a particle without lens or blur all land on one pixel.
  upload(context, {{5, 5, -10}}, {255, 128, 0, 51});
  EKRenderSettings settings = smallImage();
  settings.samples = 4;
  settings.brightness = 0.8f;
  settings.exposure = 1.5f;
  const Images image = render(context, frontCamera(), settings);
  const size_t pixel = size_t(25) * 100 + 75;
  const float colorGain = 0.8f * 0.003921569f / 4, gain = 0.8f / 4;
  auto curve = [&](float perSample) {
    const float sum = perSample + perSample + perSample + perSample;
    return 1.0f - std::exp(-1.5f * sum);
  };
  const float r = curve(255 * colorGain), g = curve(128 * colorGain);
  const float a = curve(51 * 0.00392156886f * gain);
  EXPECT_NEAR(image.floats[pixel * 4 + 0], r, 1e-6f);
  EXPECT_NEAR(image.floats[pixel * 4 + 1], g, 1e-6f);
  EXPECT_EQ(image.floats[pixel * 4 + 2], 0.0f);
  EXPECT_NEAR(image.floats[pixel * 4 + 3], std::max(a, r), 1e-6f) << "alpha raised to colour";
  EXPECT_EQ(image.bytes[pixel * 4 + 0], uint8_t(std::pow(r, 0.454545438f) * 255 + 0.5f));
  EXPECT_EQ(image.bytes[pixel * 4 + 3], 255);
  EXPECT_EQ(litPixels(image), 1);
}

TEST_P(Render, TransparentParticleStillGetsAlphaFromItsColour) {
  upload(context, {{0, 0, -10}}, {200, 0, 0, 0});
  const Images image = render(context, frontCamera(), smallImage());
  const size_t pixel = size_t(50) * 100 + 50;
  EXPECT_GT(image.floats[pixel * 4 + 0], 0.0f);
  EXPECT_EQ(image.floats[pixel * 4 + 3], image.floats[pixel * 4 + 0]);
}

TEST_P(Render, MotionBlurNeedsVelocitiesAtIndexZeroAndAShutter) {
  const std::vector<EKV3> positions(50, EKV3{0, 0, -10});
  const std::vector<EKV3> velocities(50, EKV3{8, 0, 0});
  upload(context, positions, {}, &velocities);
  EKRenderSettings settings = smallImage();
  settings.samples = 8;
  EXPECT_EQ(litPixels(render(context, frontCamera(), settings)), 1) << "shutter 0: no blur";
  settings.shutter = 1;
  const int blurred = litPixels(render(context, frontCamera(), settings));
  EXPECT_GT(blurred, 10) << "shutter 1 smears the particles along x";
  // The same particles uploaded again at index 0 without velocities: no blur any more.
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, 50, 0), 0);
  EXPECT_EQ(litPixels(render(context, frontCamera(), settings)), 1);
}

TEST_P(Render, SeedMovesLensSamplesButNotCopies) {
  std::vector<EKV3> positions;
  for (int i = 0; i < 200; ++i)
    positions.push_back({float(i % 20) - 10, float(i / 20) - 5, -10});
  upload(context, positions, {});
  EKRenderSettings settings = smallImage();
  settings.repopulation = 3;
  settings.radius = 0.5f;
  settings.samples = 2;
  settings.seed = 1;
  const Images a = render(context, frontCamera(), settings);
  settings.seed = 2;
  const Images b = render(context, frontCamera(), settings);
  EXPECT_EQ(a.floats, b.floats) << "repopulated copies do not depend on the seed";
  EXPECT_GT(litPixels(a), 200) << "copies spread around the particles";

  EKCamera lens = frontCamera();
  lens.aperture = 0.3f;
  lens.focusDistance = 4;
  const Images c = render(context, lens, settings);
  settings.seed = 1;
  const Images d = render(context, lens, settings);
  EXPECT_NE(c.floats, d.floats) << "lens samples follow the seed";
}

TEST_P(Render, SphericalCameraPlacesParticlesByLongitude) {
  upload(context, {{0, 0, -10}, {10, 0, 0}, {0, 10, 0}}, {});
  EKCamera camera = frontCamera();
  camera.projection = EK_PROJECTION_SPHERICAL;
  const Images image = render(context, camera, smallImage(360, 180));
  EXPECT_GT(image.floats[(size_t(90) * 360 + 180) * 4 + 3], 0.0f);
  EXPECT_GT(image.floats[(size_t(90) * 360 + 270) * 4 + 3], 0.0f);
  EXPECT_EQ(litPixels(image), 2) << "the point straight above is culled";
}

TEST_P(Render, TestCloudRendersTheSameTwice) {
  ASSERT_EQ(ekGenerateTestCloud(context, 20000, 3, 0), 0);
  EKCamera camera{};
  camera.eye = {0, 150, 250};
  camera.up = {0, 1, 0};
  camera.fovY = 45;
  EKRenderSettings settings = smallImage(160, 90);
  settings.brightness = 0.15f * 160 * 90 / 20000;
  const Images a = render(context, camera, settings);
  const Images b = render(context, camera, settings);
  EXPECT_GT(litPixels(a), 1000);
  if (onCpu()) {
    EXPECT_EQ(a.floats, b.floats) << "the CPU backend sums in a fixed order";
  }
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(Render);

// The CPU splat accumulates per worker or, past its memory budget, atomically; both must give the
// image a single worker gives, up to the order of float additions.
TEST(CpuSplat, ImageDoesNotDependOnWorkersOrAccumulation) {
  // With repopulated copies too: the workers' ranges then start and end inside a particle's copies
  // and inside a copy's samples.
  for (int32_t repopulation : {0, 2}) {
    std::vector<std::vector<float>> images;
    for (unsigned workers : {1u, 3u, 10u}) {
      EKContext *context = ek::test::createCpuContext(workers);
      ASSERT_EQ(ekGenerateTestCloud(context, 30000, 5, 0), 0);
      EKCamera camera{};
      camera.eye = {0, 40, 160};
      camera.up = {0, 1, 0};
      camera.fovY = 50;
      // 2000 x 2000: nine private images would pass the budget, so ten workers add atomically.
      EKRenderSettings settings = smallImage(2000, 2000);
      settings.brightness = 40;
      settings.samples = 3;
      settings.shutter = 1;
      settings.repopulation = repopulation;
      settings.radius = 3;
      images.push_back(render(context, camera, settings).floats);
      ekDestroy(context);
    }
    for (size_t k = 1; k < images.size(); ++k) {
      ASSERT_EQ(images[k].size(), images[0].size());
      for (size_t i = 0; i < images[0].size(); ++i)
        ASSERT_NEAR(images[k][i], images[0][i], 1e-5f)
            << "repopulation " << repopulation << " image " << k << " value " << i;
    }
  }
}

// The private images keep only the tiles a launch touched and are merged tile by tile: whatever
// an earlier launch left behind (at another size, or another view at this size) must not reach a
// later image.
TEST(CpuSplat, PrivateImagesAreCleanBetweenLaunches) {
  auto context = [] {
    EKContext *c = ek::test::createCpuContext(3);
    EXPECT_EQ(ekGenerateTestCloud(c, 30000, 5, 0), 0);
    return c;
  };
  EKCamera wide{};
  wide.eye = {0, 40, 160};
  wide.up = {0, 1, 0};
  wide.fovY = 50;
  EKCamera close = wide;
  close.eye = {20, 5, 30};
  close.fovY = 30;
  // Sizes that are no whole number of tiles, the second smaller than the first.
  EKRenderSettings first = smallImage(150, 70), second = smallImage(97, 61);
  first.brightness = second.brightness = 10;
  first.samples = second.samples = 2;
  first.shutter = second.shutter = 1;

  EKContext *used = context();
  render(used, wide, first);
  render(used, wide, second);
  const std::vector<float> after = render(used, close, second).floats;
  EKContext *fresh = context();
  const std::vector<float> alone = render(fresh, close, second).floats;
  EXPECT_EQ(after, alone);
  ekDestroy(used);
  ekDestroy(fresh);
}

// The same scene on both backends; the float additions happen in another order on the GPU.
TEST(BackendParity, CpuAndCudaRenderTheSameImage) {
  EKContext *gpu = ekCreate(0);
  if (std::string(ekLastError(gpu)) != "") {
    ekDestroy(gpu);
    GTEST_SKIP() << "no usable CUDA device";
  }
  EKContext *cpu = ekCreate(EK_DEVICE_CPU);
  EKCamera camera = ek::test::lookingAt({20, 60, 180}, {0, 0, 0}, 50);
  camera.aperture = 2;
  camera.focusDistance = 150;
  EKRenderSettings settings = smallImage(320, 180);
  settings.brightness = 0.15f * 320 * 180 / 50000;
  settings.repopulation = 2;
  settings.radius = 1;
  settings.samples = 4;
  settings.shutter = 0.5f;
  settings.seed = 11;
  for (EKContext *c : {cpu, gpu})
    ASSERT_EQ(ekGenerateTestCloud(c, 50000, 9, 1), 0) << ekLastError(c);
  const Images a = render(cpu, camera, settings);
  const Images b = render(gpu, camera, settings);
  // Transcendentals of the two math libraries may move a rare sample to a neighbouring pixel;
  // everything else agrees up to the order of the additions.
  size_t differentFloats = 0, differentBytes = 0;
  for (size_t i = 0; i < a.floats.size(); ++i)
    differentFloats += std::fabs(a.floats[i] - b.floats[i]) > 1e-4f;
  for (size_t i = 0; i < a.bytes.size(); ++i)
    differentBytes += std::abs(int(a.bytes[i]) - int(b.bytes[i])) > 1;
  EXPECT_LT(differentFloats, a.floats.size() / 1000);
  EXPECT_LT(differentBytes, a.bytes.size() / 1000);
  EXPECT_GT(litPixels(a), 5000);
  ekDestroy(cpu);
  ekDestroy(gpu);
}

} // namespace
