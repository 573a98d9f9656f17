// One context used from several threads at once: calls on it run one after another, so every image
// is one that a single thread could have made and no call reads arrays another one is replacing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backend_fixture.h"

namespace {

using SharedContext = ek::test::BackendTest;

struct View {
  EKCamera camera;
  EKRenderSettings settings;
};

View additiveView() {
  View v{};
  v.camera.eye = {0, 0, 6};
  v.camera.up = {0, 1, 0};
  v.camera.fovY = 60;
  v.settings.width = 64;
  v.settings.height = 48;
  v.settings.brightness = 2;
  v.settings.exposure = 1;
  v.settings.samples = 2;
  v.settings.repopulation = 1;
  v.settings.radius = 0.05f;
  return v;
}

// Another size and the volumetric look, so that two renders also fight over every per-image
// buffer and the volume passes' own buffers.
View volumetricView() {
  View v = additiveView();
  v.camera.eye = {2, 3, 5};
  v.settings.width = 40;
  v.settings.height = 56;
  v.settings.mode = EK_MODE_VOLUMETRIC;
  v.settings.density = 2;
  v.settings.ambient[0] = v.settings.ambient[1] = v.settings.ambient[2] = 0.6f;
  return v;
}

std::vector<EKV3> randomCloud(size_t count, float spread, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-spread, spread);
  std::vector<EKV3> points(count);
  for (EKV3 &p : points)
    p = {uniform(random), uniform(random), uniform(random)};
  return points;
}

// The float image of one render, or an empty one when the render failed.
std::vector<float> renderImage(EKContext *context, const View &view) {
  std::vector<float> image(size_t(view.settings.width) * view.settings.height * 4);
  if (ekRender(context, &view.camera, &view.settings, nullptr, 0, nullptr, image.data(), nullptr) !=
      0)
    return {};
  return image;
}

// Equal up to the order of float additions, which the GPU does not fix.
bool sameImage(const std::vector<float> &a, const std::vector<float> &b) {
  if (a.size() != b.size() || a.empty())
    return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!(std::fabs(a[i] - b[i]) <= 1e-4f))
      return false;
  return true;
}

// The particle sets the writer thread alternates between: each reservation reallocates every
// array (the first set wants velocity storage, the second is larger and does without).
struct ParticleSet {
  std::vector<EKV3> positions;
  std::vector<EKV3> velocities; // empty: no velocity storage
};

bool reserveAndUpload(EKContext *context, const ParticleSet &set) {
  const bool withVelocity = !set.velocities.empty();
  return ekReserve(context, set.positions.size(), withVelocity) == 0 &&
         ekUpload(context, set.positions.data(), nullptr,
                  withVelocity ? set.velocities.data() : nullptr, set.positions.size(), 0) == 0;
}

TEST_P(SharedContext, RendersSeeWholeUploadsWhileAnotherThreadReplacesTheParticles) {
  const ParticleSet first{randomCloud(20000, 1.0f, 1), std::vector<EKV3>(20000, EKV3{0, 0, 0})};
  const ParticleSet second{randomCloud(30000, 1.5f, 2), {}};
  // Renders long enough for many reservations and uploads to be asked for meanwhile.
  View view = additiveView();
  view.settings.samples = 8;
  view.settings.repopulation = 3;
  ASSERT_TRUE(reserveAndUpload(context, first)) << ekLastError(context);
  const std::vector<float> firstImage = renderImage(context, view);
  ASSERT_TRUE(reserveAndUpload(context, second)) << ekLastError(context);
  const std::vector<float> secondImage = renderImage(context, view);
  // Between a reservation and its upload the context holds no particles.
  ASSERT_EQ(ekReserve(context, 1, 1), 0);
  const std::vector<float> emptyImage = renderImage(context, view);
  ASSERT_FALSE(sameImage(firstImage, secondImage));

  // Both threads go on until each has done its share while the other was running (or a few
  // seconds have passed, on a machine too busy to run them side by side).
  std::atomic<bool> rendering{true};
  std::atomic<int> rounds{0}, failedUploads{0};
  std::thread writer([&] {
    for (; rendering; ++rounds)
      failedUploads += !reserveAndUpload(context, rounds % 2 ? second : first);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int renders = 0, unexpected = 0;
  while (rounds == 0)
    std::this_thread::yield();
  for (; (renders < 200 || rounds < 200) && std::chrono::steady_clock::now() < deadline;
       ++renders) {
    const std::vector<float> image = renderImage(context, view);
    unexpected += !sameImage(image, firstImage) && !sameImage(image, secondImage) &&
                  !sameImage(image, emptyImage);
  }
  rendering = false;
  writer.join();
  EXPECT_EQ(failedUploads, 0);
  EXPECT_EQ(unexpected, 0) << "of " << renders << " renders, beside " << rounds << " uploads";
}

TEST_P(SharedContext, TwoThreadsRenderingGetTheirOwnImages) {
  const ParticleSet cloud{randomCloud(4000, 1.2f, 3), {}};
  ASSERT_TRUE(reserveAndUpload(context, cloud)) << ekLastError(context);
  const View views[2] = {additiveView(), volumetricView()};
  const std::vector<float> expected[2] = {renderImage(context, views[0]),
                                          renderImage(context, views[1])};
  ASSERT_FALSE(expected[0].empty());
  ASSERT_FALSE(expected[1].empty()) << ekLastError(context);

  int wrong[2] = {0, 0};
  auto renderMany = [&](int which) {
    for (int k = 0; k < 30; ++k)
      wrong[which] += !sameImage(renderImage(context, views[which]), expected[which]);
  };
  std::thread other(renderMany, 1);
  renderMany(0);
  other.join();
  EXPECT_EQ(wrong[0], 0) << "additive images that differ from the single-thread one";
  EXPECT_EQ(wrong[1], 0) << "volumetric images that differ from the single-thread one";
}

TEST_P(SharedContext, AnotherThreadsFailureLeavesTheErrorTextBeingRead) {
  ASSERT_EQ(ekSetCount(context, 5), 1);
  const char *mine = ekLastError(context);
  std::thread([&] {
    EXPECT_EQ(ekUpload(context, nullptr, nullptr, nullptr, 0, 0), 1);
    EXPECT_STREQ(ekLastError(context), "ekUpload: invalid parameters");
  }).join();
  EXPECT_STREQ(mine, "ekSetCount: larger than capacity");
  EXPECT_STREQ(ekLastError(context), "ekUpload: invalid parameters") << "asked again: the news";
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(SharedContext);

} // namespace
