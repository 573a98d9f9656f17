// Values that are not finite: broken particles are left out of every pass of both looks, and
// requests holding such values are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "scene_records.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr int kSize = 48;
constexpr int kParticles = 400;

struct Look {
  const char *name;
  int mode;
  int projection;
};

struct Breakage {
  const char *name;
  EKV3 position; // added to a good position
  EKV3 velocity;
};

// A ball of coloured particles with velocities, and the camera looking at it.
struct Scene {
  std::vector<EKV3> positions, velocities;
  std::vector<uint8_t> colors;

  Scene() {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(-4, 4);
    while (positions.size() < kParticles) {
      const EKV3 p{uniform(random), uniform(random), uniform(random)};
      if (p.x * p.x + p.y * p.y + p.z * p.z > 16)
        continue;
      positions.push_back(p);
      velocities.push_back({uniform(random) * 0.1f, 0.2f, 0});
      for (int c = 0; c < 4; ++c)
        colors.push_back(uint8_t(128 + positions.size() % 100 + c));
    }
  }
};

EKCamera cameraFor(const Look &look) {
  EKCamera camera = ek::test::lookingAt({2, 3, 20}, {0, 0, 0}, 35);
  camera.focusDistance = 18;
  camera.aperture = 0.3f;
  camera.projection = look.projection;
  camera.lonMin = -40;
  camera.lonMax = 40;
  camera.latMin = -30;
  camera.latMax = 30;
  camera.topMergeExponent = camera.bottomMergeExponent = 1;
  return camera;
}

EKRenderSettings settingsFor(const Look &look) {
  EKRenderSettings s = ek::test::volumeSettings(kSize, kSize, 2, 32, 16, 16);
  s.mode = look.mode;
  s.brightness = 0.5f;
  s.repopulation = 2;
  s.radius = 0.2f;
  s.samples = 4;
  s.shutter = 1;
  s.seed = 9;
  s.emission = 0.1f;
  s.ambient[0] = s.ambient[1] = s.ambient[2] = 0.2f;
  return s;
}

std::vector<EKLight> lights() {
  EKLight point{};
  point.position = {10, 5, 5};
  point.color[0] = point.color[1] = point.color[2] = 2;
  point.castsShadows = 1;
  EKLight spot = point;
  spot.type = 1;
  spot.position = {-5, 15, 5};
  spot.direction = {0.3f, -1, -0.3f};
  spot.outerAngle = 60;
  spot.innerAngle = 40;
  return {point, spot};
}

using BrokenParticles = ek::test::BackendTest;

// A scene rendered with one broken particle after the good ones equals the scene without it, in
// every look, camera and kind of breakage (1e39 in a file becomes an infinite float).
TEST_P(BrokenParticles, AreLeftOutOfEveryPass) {
  const Look looks[] = {{"additive, perspective", EK_MODE_ADDITIVE, EK_PROJECTION_PERSPECTIVE},
                        {"additive, spherical", EK_MODE_ADDITIVE, EK_PROJECTION_SPHERICAL},
                        {"volumetric, perspective", EK_MODE_VOLUMETRIC, EK_PROJECTION_PERSPECTIVE},
                        {"volumetric, spherical", EK_MODE_VOLUMETRIC, EK_PROJECTION_SPHERICAL}};
  const Breakage breakages[] = {
      {"NaN position", {kNaN, 0, 0}, {0, 0, 0}},
      {"infinite position", {kInfinity, kInfinity, -kInfinity}, {0, 0, 0}},
      {"one infinite coordinate", {0, 0, -kInfinity}, {0, 0, 0}},
      {"NaN velocity", {0, 0, 0}, {0, kNaN, 0}},
      {"infinite velocity", {0, 0, 0}, {kInfinity, 0, 0}}};
  Scene scene;
  const std::vector<EKLight> sceneLights = lights();
  ASSERT_EQ(ekReserve(context, kParticles + 1, 1), 0);
  std::vector<float> good(size_t(kSize) * kSize * 4), broken(good.size());
  for (const Look &look : looks) {
    const EKCamera camera = cameraFor(look);
    const EKRenderSettings settings = settingsFor(look);
    auto renderInto = [&](std::vector<float> &image) {
      ASSERT_EQ(ekRender(context, &camera, &settings, sceneLights.data(), int(sceneLights.size()),
                         nullptr, image.data(), nullptr),
                0)
          << ekLastError(context);
    };
    ASSERT_EQ(ekUpload(context, scene.positions.data(), scene.colors.data(),
                       scene.velocities.data(), kParticles, 0),
              0);
    renderInto(good);
    float lit = 0;
    for (size_t i = 0; i < good.size(); i += 4)
      lit += good[i];
    ASSERT_GT(lit, 1.0f) << look.name << ": the scene shows";
    for (const Breakage &breakage : breakages) {
      const EKV3 base = scene.positions[7];
      const EKV3 position{base.x + breakage.position.x, base.y + breakage.position.y,
                          base.z + breakage.position.z};
      const uint8_t color[4] = {255, 255, 255, 255};
      ASSERT_EQ(ekUpload(context, &position, color, &breakage.velocity, 1, kParticles), 0);
      renderInto(broken);
      for (size_t i = 0; i < good.size(); ++i)
        ASSERT_NEAR(broken[i], good[i], 1e-5f)
            << look.name << ", " << breakage.name << ": pixel " << i / 4 << " channel " << i % 4;
    }
    ASSERT_EQ(ekSetCount(context, kParticles), 0);
  }
}

EK_INSTANTIATE_FOR_BACKENDS(BrokenParticles);

// Every real number of the camera, the settings and the used lights must be finite.
TEST(RenderRequest, ValuesThatAreNotFiniteAreRefused) {
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  ASSERT_NE(context, nullptr);
  const Look look{"volumetric", EK_MODE_VOLUMETRIC, EK_PROJECTION_PERSPECTIVE};
  const EKCamera camera = cameraFor(look);
  const EKRenderSettings settings = settingsFor(look);
  std::vector<EKLight> used = lights();
  auto status = [&](const EKCamera &c, const EKRenderSettings &s, const std::vector<EKLight> &l) {
    return ekRender(context, &c, &s, l.data(), int(l.size()), nullptr, nullptr, nullptr);
  };
  ASSERT_EQ(status(camera, settings, used), 0) << ekLastError(context);

  auto expectRefused = [&](const EKCamera &c, const EKRenderSettings &s,
                           const std::vector<EKLight> &l, const std::string &what) {
    EXPECT_EQ(status(c, s, l), 1) << what;
    EXPECT_STREQ(ekLastError(context), "ekRender: invalid parameters") << what;
  };
  for (float bad : {kNaN, kInfinity, -kInfinity}) {
    // EKCamera and EKRenderSettings are packed 4-byte fields; the real ones are visited by offset.
    for (size_t offset : {0,  4,  8,  12, 16, 20, 24, 28, 32, 36, 40, 44,
                          52, 56, 60, 64, 68, 72, 76, 88, 92, 96, 100}) {
      EKCamera c = camera;
      reinterpret_cast<float *>(&c)[offset / 4] = bad;
      expectRefused(c, settings, used, "camera field at byte " + std::to_string(offset));
    }
    for (size_t offset : {8, 12, 20, 28, 40, 44, 48, 52, 56, 60}) {
      EKRenderSettings s = settings;
      reinterpret_cast<float *>(&s)[offset / 4] = bad;
      expectRefused(camera, s, used, "settings field at byte " + std::to_string(offset));
    }
    for (size_t offset : {4, 8, 12, 16, 20, 24, 28, 32, 36, 40, 44, 52, 56}) {
      std::vector<EKLight> l = used;
      reinterpret_cast<float *>(&l[1])[offset / 4] = bad;
      expectRefused(camera, settings, l, "light field at byte " + std::to_string(offset));
      // The additive look reads no lights, and the volumetric one only the first eight.
      EKRenderSettings additive = settings;
      additive.mode = EK_MODE_ADDITIVE;
      EXPECT_EQ(status(camera, additive, l), 0);
      std::vector<EKLight> nine(8, used[0]);
      nine.push_back(l[1]);
      EXPECT_EQ(status(camera, settings, nine), 0);
    }
  }
  ekDestroy(context);
}

} // namespace
