// The volumetric look gives the same request the same bytes: run after run, and whatever number
// of workers the CPU splits the passes among (also when most of them get no particle); so do its
// layers.
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

// Every layer of the volumetric look, one light's part for each of the three lights.
struct Layers {
  std::vector<std::vector<float>> images;
  std::vector<EKLayer> request;

  Layers() {
    const std::pair<int32_t, int32_t> kinds[] = {{EK_LAYER_COVERAGE, 0}, {EK_LAYER_RAW, 0},
                                                 {EK_LAYER_DEPTH, 0},    {EK_LAYER_FORWARD, 0},
                                                 {EK_LAYER_BACKWARD, 0}, {EK_LAYER_EMISSION, 0},
                                                 {EK_LAYER_AMBIENT, 0},  {EK_LAYER_LIGHT, 0},
                                                 {EK_LAYER_LIGHT, 1},    {EK_LAYER_LIGHT, 2}};
    for (const auto &[kind, light] : kinds) {
      images.emplace_back(size_t(kWidth) * kHeight * size_t(ekLayerChannels(kind)), -7.0f);
      request.push_back({kind, light, images.back().data()});
    }
  }
};

// A dense ball lit by a spot, a point light inside it and a sun, all casting shadows, with
// repopulated copies and several samples each: many deposits land on the same cells of every map.
// With `layers`, a layered render that fills them too.
Image renderLitBall(EKContext *context, Layers *layers = nullptr) {
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
  settings.ambient[0] = settings.ambient[1] = settings.ambient[2] = 0.1f;
  settings.emission = 0.2f;
  EXPECT_EQ(layers ? ekRenderLayers(context, &camera, &settings, lights, 3, layers->request.data(),
                                    int32_t(layers->request.size()), image.bytes.data(),
                                    image.floats.data(), nullptr)
                   : ekRender(context, &camera, &settings, lights, 3, image.bytes.data(),
                              image.floats.data(), nullptr),
            0)
      << ekLastError(context);
  return image;
}

// The ball of uploadBall, turning about the y axis at a speed that grows outwards.
void uploadTurningBall(EKContext *context, int count) {
  const std::vector<EKV3> positions = ek::test::ballPositions(count);
  std::vector<EKV3> velocities;
  for (const EKV3 &p : positions)
    velocities.push_back({0.3f * p.z, 0.0f, -0.3f * p.x});
  ASSERT_EQ(ekReserve(context, positions.size(), 1), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, velocities.data(), positions.size(), 0),
            0);
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

// The layer sums are gathered in fixed parts merged in order, like the beauty: every layer comes
// out the same to the bit, run after run and whatever the number of workers.
TEST(VolumeRepeat, LayersAreTheSameOnEveryRunAndWorkerCount) {
  std::vector<std::vector<float>> reference;
  for (unsigned workers : {1u, 2u, 3u, 8u}) {
    SCOPED_TRACE(std::to_string(workers) + " workers");
    EKContext *context = ek::test::createCpuContext(workers);
    ASSERT_NE(context, nullptr);
    uploadTurningBall(context, 30000);
    Layers first, second;
    renderLitBall(context, &first);
    renderLitBall(context, &second);
    ekDestroy(context);
    for (size_t n = 0; n < first.images.size(); ++n) {
      SCOPED_TRACE("layer " + std::to_string(n));
      EXPECT_EQ(std::memcmp(first.images[n].data(), second.images[n].data(),
                            first.images[n].size() * sizeof(float)),
                0)
          << "a second render";
      if (workers == 1)
        continue;
      EXPECT_EQ(std::memcmp(first.images[n].data(), reference[n].data(),
                            first.images[n].size() * sizeof(float)),
                0);
    }
    if (workers == 1)
      reference = first.images;
  }
}

// A handful of particles split among many workers leaves most of them without work, and the
// parts of the space order and of the shading without particles: the images and every layer are
// still those of one worker.
TEST(VolumeRepeat, FewParticlesOnManyWorkersGiveTheOneWorkerImage) {
  for (int count : {1, 2, 3, 5, 9, 17}) {
    Image reference;
    std::vector<std::vector<float>> referenceLayers;
    for (unsigned workers : {1u, 2u, 3u, 8u, 16u}) {
      SCOPED_TRACE(std::to_string(count) + " particles, " + std::to_string(workers) + " workers");
      EKContext *context = ek::test::createCpuContext(workers);
      ASSERT_NE(context, nullptr);
      uploadTurningBall(context, count);
      Layers layers;
      const Image image = renderLitBall(context, &layers);
      ekDestroy(context);
      if (workers == 1) {
        reference = image;
        referenceLayers = layers.images;
        continue;
      }
      expectSameBytes(image, reference, "beauty");
      for (size_t n = 0; n < layers.images.size(); ++n)
        EXPECT_EQ(std::memcmp(layers.images[n].data(), referenceLayers[n].data(),
                              layers.images[n].size() * sizeof(float)),
                  0)
            << "layer " << n;
    }
  }
}

// On a CUDA device many threads add to the same pixels at once, in an order that changes from run
// to run: the beauty and every layer still come out the same to the bit, in the same context
// and in a fresh one. Skipped without a usable CUDA device.
TEST(VolumeRepeat, CudaGivesTheSameBytesOnEveryRun) {
  Image reference, referenceLayered;
  Layers referenceLayers;
  for (int contextRun = 0; contextRun < 2; ++contextRun) {
    EKContext *context = ekCreate(0);
    ASSERT_NE(context, nullptr);
    if (std::string(ekLastError(context)) != "") {
      ekDestroy(context);
      GTEST_SKIP() << "no usable CUDA device";
    }
    uploadTurningBall(context, 200000);
    for (int run = 0; run < 3; ++run) {
      SCOPED_TRACE("context " + std::to_string(contextRun) + ", render " + std::to_string(run));
      const Image image = renderLitBall(context);
      Layers layers;
      const Image layered = renderLitBall(context, &layers);
      if (contextRun == 0 && run == 0) {
        reference = image;
        referenceLayered = layered;
        referenceLayers = layers;
        continue;
      }
      expectSameBytes(image, reference, "beauty");
      expectSameBytes(layered, referenceLayered, "layered beauty");
      for (size_t n = 0; n < layers.images.size(); ++n)
        EXPECT_EQ(std::memcmp(layers.images[n].data(), referenceLayers.images[n].data(),
                              layers.images[n].size() * sizeof(float)),
                  0)
            << "layer " << n;
    }
    ekDestroy(context);
  }
}

} // namespace
