// The volumetric look gives the same request the same bytes: run after run, and whatever number
// of workers the CPU splits the passes among.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "particle_ball.h"
#include "scene_records.h"

namespace {

constexpr int kWidth = 96, kHeight = 64;

struct Image {
  std::vector<uint8_t> bytes;
  std::vector<float> floats;
};

// A dense ball lit by a spot, a point light inside it and a sun, all casting shadows, with
// repopulated copies and several samples each: many deposits land on the same cells of every map.
Image renderLitBall(EKContext *context) {
  Image image{std::vector<uint8_t>(size_t(kWidth) * kHeight * 4),
              std::vector<float>(size_t(kWidth) * kHeight * 4)};
  EKCamera camera = ek::test::lookingAt({0, 3, 25}, {0, 0, 0}, 30);
  camera.aperture = 0.2f;
  camera.focusDistance = 25;
  EKRenderSettings settings = ek::test::volumeSettings(kWidth, kHeight, 2, 48, 24, 16);
  settings.repopulation = 1;
  settings.radius = 0.3f;
  settings.samples = 2;
  settings.scattering = 0.2f;
  EKLight lights[3] = {};
  lights[0].type = EK_LIGHT_SPOT;
  lights[0].position = {0, 15, 15};
  lights[0].direction = {0, -1, -1};
  lights[0].outerAngle = 50;
  lights[1].type = EK_LIGHT_POINT;
  lights[1].position = {1, 0, 0};
  lights[2].type = EK_LIGHT_DIRECTIONAL;
  lights[2].direction = {1, -1, 0};
  for (EKLight &light : lights) {
    light.color[0] = light.color[1] = light.color[2] = 2;
    light.castsShadows = 1;
  }
  EXPECT_EQ(ekRender(context, &camera, &settings, lights, 3, image.bytes.data(),
                     image.floats.data(), nullptr),
            0)
      << ekLastError(context);
  return image;
}

void expectSameBytes(const Image &a, const Image &b, const char *what) {
  EXPECT_EQ(a.bytes, b.bytes) << what;
  ASSERT_EQ(a.floats.size(), b.floats.size());
  size_t differing = 0;
  for (size_t i = 0; i < a.floats.size(); ++i)
    differing += std::memcmp(&a.floats[i], &b.floats[i], sizeof(float)) != 0;
  EXPECT_EQ(differing, 0u) << what << ": floats that differ";
}

TEST(VolumeRepeat, SameRequestGivesTheSameBytesOnEveryRunAndWorkerCount) {
  Image reference;
  for (unsigned workers : {1u, 2u, 3u, 8u}) {
    EKContext *context = ek::test::createCpuContext(workers);
    ASSERT_NE(context, nullptr);
    ek::test::uploadBall(context, 30000);
    const Image first = renderLitBall(context);
    expectSameBytes(renderLitBall(context), first, "a second render");
    if (workers == 1)
      reference = first;
    else
      expectSameBytes(first, reference, (std::to_string(workers) + " workers").c_str());
    ekDestroy(context);
  }
}

} // namespace
