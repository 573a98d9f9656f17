#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "backend_fixture.h"
#include "particle_ball.h"
#include "scene_records.h"

namespace {

using RenderLayers = ek::test::BackendTest;

constexpr int kSize = 64;
constexpr float kFovY = 40;

// Camera at the origin looking down -z; a point at (x, y, -d) lands at pixel
// ((x / d x scale + 1) / 2 x kSize, (1 - (y / d x scale + 1) / 2) x kSize), scale = 1 / tan(20).
EKCamera originCamera() { return ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, kFovY); }

// Either look, with the volumetric one's density and slices set.
EKRenderSettings settingsFor(int32_t mode) {
  EKRenderSettings s = ek::test::volumeSettings(kSize, kSize, 40, 64, 32, 64);
  s.brightness = 0.05f;
  s.mode = mode;
  return s;
}

// `count` particles spread evenly over the rectangle x0..x1, y0..y1 at depth `depth`.
void addSheet(std::vector<EKV3> &positions, int count, float x0, float x1, float y0, float y1,
              float depth) {
  std::mt19937 random(uint32_t(positions.size()) + 11);
  std::uniform_real_distribution<float> unit(0, 1);
  for (int i = 0; i < count; ++i)
    positions.push_back({x0 + (x1 - x0) * unit(random), y0 + (y1 - y0) * unit(random), -depth});
}

struct Layered {
  std::vector<float> beauty;
  std::vector<std::vector<float>> layers;
};

// Renders with the given layers (kind, light); every layer image starts as -7.
Layered renderLayers(EKContext *context, const EKRenderSettings &settings,
                     const std::vector<EKLight> &lights,
                     const std::vector<std::pair<int32_t, int32_t>> &kinds) {
  const EKCamera camera = originCamera();
  Layered out{std::vector<float>(size_t(kSize) * kSize * 4, -7), {}};
  std::vector<EKLayer> request;
  for (const auto &[kind, light] : kinds)
    out.layers.emplace_back(size_t(kSize) * kSize * size_t(ekLayerChannels(kind)), -7.0f);
  for (size_t n = 0; n < kinds.size(); ++n)
    request.push_back({kinds[n].first, kinds[n].second, out.layers[n].data()});
  EXPECT_EQ(ekRenderLayers(context, &camera, &settings, lights.data(), int32_t(lights.size()),
                           request.data(), int32_t(request.size()), nullptr, out.beauty.data(),
                           nullptr),
            0)
      << ekLastError(context);
  return out;
}

size_t at(int x, int y) { return size_t(y) * kSize + size_t(x); }

// Two dense sheets, a small one at depth 30 in front of a wide one at depth 60 that fills the
// image's left part only: Z is the front sheet's depth where it covers the back one, the back
// sheet's beside it, and nothing where neither is. Beside them a rod of particles spread evenly
// from depth 30 to 60 along the view of a few pixels: there Z is where the coverage gathered
// from the front reaches half of the pixel's alpha, which its total thickness T (the coverage
// layer) tells: 30 + 30 x -ln(1 - alpha / 2) / T, alpha = 1 - exp(-T). In both looks.
TEST_P(RenderLayers, DepthIsWhereTheCoverageDominates) {
  std::vector<EKV3> positions;
  addSheet(positions, 20000, -3, 3, -3, 3, 30);    // pixels ~23..41
  addSheet(positions, 40000, -20, 0, -20, 20, 60); // the left half, top to bottom
  std::mt19937 random(5);
  std::uniform_real_distribution<float> unit(0, 1);
  for (int i = 0; i < 4000; ++i) { // pixels ~44..49 across, ~29..34 down, at every depth
    const float depth = 30 + 30 * unit(random);
    positions.push_back(
        {(4 + 2 * unit(random)) * depth / 30, (2 * unit(random) - 1) * depth / 30, -depth});
  }
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, positions.size(), 0), 0);
  for (const int32_t mode : {EK_MODE_VOLUMETRIC, EK_MODE_ADDITIVE}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const EKRenderSettings settings = settingsFor(mode);
    const Layered r =
        renderLayers(context, settings, {}, {{EK_LAYER_DEPTH, 0}, {EK_LAYER_COVERAGE, 0}});
    const std::vector<float> &z = r.layers[0], &thickness = r.layers[1];
    const float slice = (60.0f - 30.0f) / float(settings.cameraSlices);
    ASSERT_GT(r.beauty[at(32, 32) * 4 + 3], 0.9f) << "the front sheet should be nearly opaque";
    EXPECT_NEAR(z[at(32, 32)], 30.0f, 2 * slice);
    EXPECT_NEAR(z[at(29, 34)], 30.0f, 2 * slice);
    EXPECT_NEAR(z[at(8, 32)], 60.0f, 2 * slice);
    EXPECT_NEAR(z[at(10, 5)], 60.0f, 2 * slice);
    EXPECT_EQ(z[at(55, 10)], EK_DEPTH_NOTHING);
    EXPECT_EQ(z[at(60, 60)], EK_DEPTH_NOTHING);
    for (const int x : {46, 47}) {
      const float t = thickness[at(x, 32)];
      ASSERT_GT(t, 0.5f);
      const float expected = 30 + 30 * -std::log(1 - (1 - std::exp(-t)) / 2) / t;
      EXPECT_NEAR(z[at(x, 32)], expected, 3 * slice) << "x " << x << ", thickness " << t;
    }
  }
}

// The additive look gathers its depth as four moments per pixel, which tell one or two thin
// clouds and one even cloud exactly but three thin clouds only approximately: of three equal
// sheets at depths 30, 45 and 60, Z finds the one in which the coverage gathered front to back
// reaches half of the pixel's alpha within 15 % of the depth range (4.5), where that point lies
// well inside the sheet's share: faint, in the middle sheet; dense, in the front one.
TEST_P(RenderLayers, AdditiveDepthOfThreeSheets) {
  // 40 particles of every sheet on the centre of each of the pixels 26 .. 37 across and down.
  std::vector<EKV3> positions;
  const float scale = 1 / std::tan(kFovY / 2 * 3.14159265f / 180);
  for (const float depth : {30.0f, 45.0f, 60.0f})
    for (int y = 26; y < 38; ++y)
      for (int x = 26; x < 38; ++x)
        positions.insert(positions.end(), 40,
                         EKV3{((float(x) + 0.5f) / kSize * 2 - 1) / scale * depth,
                              (1 - (float(y) + 0.5f) / kSize * 2) / scale * depth, -depth});
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, positions.size(), 0), 0);
  for (const float brightness : {0.001f, 0.1f}) {
    SCOPED_TRACE("brightness " + std::to_string(brightness));
    EKRenderSettings settings = settingsFor(EK_MODE_ADDITIVE);
    settings.brightness = brightness;
    const Layered r =
        renderLayers(context, settings, {}, {{EK_LAYER_DEPTH, 0}, {EK_LAYER_COVERAGE, 0}});
    for (const int x : {26, 31, 37}) {
      const float t = r.layers[1][at(x, 32)];
      ASSERT_GT(t, 0.05f);
      // Each sheet holds a third of the thickness: half of the alpha is reached at this share
      // of it, well inside the sheet expected.
      const float half = -std::log(1 - (1 - std::exp(-t)) / 2);
      const float expected = brightness > 0.01f ? 30.0f : 45.0f;
      ASSERT_NEAR(half / t, brightness > 0.01f ? 1.0f / 6 : 0.5f, 0.12f);
      EXPECT_NEAR(r.layers[0][at(x, 32)], expected, 4.5f) << "x " << x << ", thickness " << t;
    }
  }
}

// The additive look's depth range comes from a measure of the cloud that renders of unchanged
// particles share: a render after an upload, whole or in part, measures the particles anew and
// finds each sheet where it now is (a stale range would clamp the moved sheet to its end).
TEST_P(RenderLayers, AdditiveDepthFollowsUploadsBetweenRenders) {
  std::vector<EKV3> positions;
  addSheet(positions, 5000, -3, 3, -3, 3, 30);  // the middle of the image
  addSheet(positions, 5000, -8, -6, -1, 1, 40); // a narrow one to its left
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  const EKRenderSettings settings = settingsFor(EK_MODE_ADDITIVE);
  const float scale = 1 / std::tan(kFovY / 2 * 3.14159265f / 180);
  // The depths of the middle sheet and of the left one after uploading the particles from
  // `first` on, with the left sheet at depth `leftDepth`.
  auto depthsAfter = [&](uint64_t first, float leftDepth) {
    EXPECT_EQ(ekUpload(context, positions.data() + first, nullptr, nullptr,
                       positions.size() - first, first),
              0);
    const Layered r = renderLayers(context, settings, {}, {{EK_LAYER_DEPTH, 0}});
    const int leftColumn = int((-7 / leftDepth * scale + 1) / 2 * kSize);
    return std::pair{r.layers[0][at(32, 32)], r.layers[0][at(leftColumn, 32)]};
  };
  const auto [middle, left] = depthsAfter(0, 40);
  EXPECT_NEAR(middle, 30.0f, 0.5f);
  EXPECT_NEAR(left, 40.0f, 0.5f);
  for (EKV3 &p : positions) // the whole cloud moves back, to depths 80 and 90
    p.z -= 50;
  const auto [middleMoved, leftMoved] = depthsAfter(0, 90);
  EXPECT_NEAR(middleMoved, 80.0f, 0.5f);
  EXPECT_NEAR(leftMoved, 90.0f, 0.5f);
  for (size_t i = 5000; i < positions.size(); ++i) // the left sheet alone comes forward, to 20
    positions[i].z += 70;
  const auto [middleKept, leftForward] = depthsAfter(5000, 20);
  EXPECT_NEAR(middleKept, 80.0f, 0.5f);
  EXPECT_NEAR(leftForward, 20.0f, 0.5f);
}

// The additive look's layered render adds its layer sums in the beauty's own splat: its beauty
// is ekRender's, bit for bit, and its layers come out the same on every render.
TEST_P(RenderLayers, AdditiveLayersKeepTheBeautyAndRepeat) {
  std::vector<EKV3> positions;
  addSheet(positions, 30000, -8, 8, -8, 8, 40);
  addSheet(positions, 30000, -4, 12, -6, 6, 55);
  std::vector<EKV3> velocities(positions.size());
  for (size_t i = 0; i < velocities.size(); ++i)
    velocities[i] = {0.01f * float(i % 97), -0.02f * float(i % 31), 0.1f};
  ASSERT_EQ(ekReserve(context, positions.size(), 1), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, velocities.data(), positions.size(), 0),
            0);
  const EKCamera camera = originCamera();
  for (const float shutter : {0.0f, 0.5f}) {
    SCOPED_TRACE("shutter " + std::to_string(shutter));
    EKRenderSettings settings = settingsFor(EK_MODE_ADDITIVE);
    settings.shutter = shutter;
    settings.samples = shutter > 0 ? 3 : 1;
    std::vector<float> plain(size_t(kSize) * kSize * 4);
    ASSERT_EQ(ekRender(context, &camera, &settings, nullptr, 0, nullptr, plain.data(), nullptr), 0);
    const std::vector<std::pair<int32_t, int32_t>> kinds = {
        {EK_LAYER_DEPTH, 0}, {EK_LAYER_FORWARD, 0}, {EK_LAYER_BACKWARD, 0}, {EK_LAYER_RAW, 0}};
    const Layered first = renderLayers(context, settings, {}, kinds);
    const Layered second = renderLayers(context, settings, {}, kinds);
    EXPECT_EQ(first.beauty, plain);
    EXPECT_EQ(first.layers, second.layers);
    int moving = 0;
    for (size_t i = 0; i < size_t(kSize) * kSize; ++i)
      moving += first.layers[1][2 * i] != 0.0f;
    EXPECT_GT(moving, 500);
  }
}

// A sheet at depth 50 moving at (1, 0.5, 0) scene units per frame: every covered pixel moves by
// the same image distance, forward and (negated) backward, in both looks, with and without a
// shutter.
TEST_P(RenderLayers, MotionVectorsFollowTheVelocities) {
  std::vector<EKV3> positions;
  addSheet(positions, 20000, -8, 8, -8, 8, 50);
  const std::vector<EKV3> velocities(positions.size(), EKV3{1.0f, 0.5f, 0.0f});
  ASSERT_EQ(ekReserve(context, positions.size(), 1), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, velocities.data(), positions.size(), 0),
            0);
  const float pixelsPerUnit = 0.5f * kSize / std::tan(kFovY / 2 * 3.14159265f / 180) / 50;
  for (const int32_t mode : {EK_MODE_ADDITIVE, EK_MODE_VOLUMETRIC})
    for (const float shutter : {0.0f, 0.5f}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + ", shutter " + std::to_string(shutter));
      EKRenderSettings settings = settingsFor(mode);
      settings.density = 3; // thin enough that each pixel shows its front samples
      settings.shutter = shutter;
      settings.samples = shutter > 0 ? 4 : 1;
      const Layered r =
          renderLayers(context, settings, {}, {{EK_LAYER_FORWARD, 0}, {EK_LAYER_BACKWARD, 0}});
      const std::vector<float> &forward = r.layers[0], &backward = r.layers[1];
      int moving = 0;
      for (int y = 24; y < 40; ++y)
        for (int x = 24; x < 40; ++x) {
          const size_t i = at(x, y);
          EXPECT_NEAR(forward[2 * i], pixelsPerUnit, 1e-3f);
          EXPECT_NEAR(forward[2 * i + 1], -0.5f * pixelsPerUnit, 1e-3f);
          EXPECT_NEAR(backward[2 * i], -pixelsPerUnit, 1e-3f);
          EXPECT_NEAR(backward[2 * i + 1], 0.5f * pixelsPerUnit, 1e-3f);
          moving += forward[2 * i] > 0;
        }
      EXPECT_EQ(moving, 16 * 16);
      EXPECT_EQ(forward[2 * at(2, 2)], 0.0f) << "no particles, no motion";
    }
}

// A spherical camera at the origin sees a sheet 50 units ahead and one 50 units behind, across
// the image's left and right edge, both moving sideways at 1 unit per frame: the longitude turns
// by 1/50 radian a frame, 1/50 / (2 pi) x width pixels, to the right for both, also where a
// particle crosses the edge within the frame.
TEST_P(RenderLayers, SphericalMotionTakesTheShortWayRound) {
  constexpr int kWidth = 128, kHeight = 64;
  std::vector<EKV3> positions;
  addSheet(positions, 20000, -2, 2, -2, 2, 50);
  const size_t ahead = positions.size();
  addSheet(positions, 20000, -2, 2, -2, 2, -50);
  std::vector<EKV3> velocities(positions.size(), EKV3{1, 0, 0});
  std::fill(velocities.begin() + ptrdiff_t(ahead), velocities.end(), EKV3{-1, 0, 0});
  ASSERT_EQ(ekReserve(context, positions.size(), 1), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, velocities.data(), positions.size(), 0),
            0);
  EKCamera camera = originCamera();
  camera.projection = EK_PROJECTION_SPHERICAL;
  EKRenderSettings settings = settingsFor(EK_MODE_ADDITIVE);
  settings.width = kWidth;
  settings.height = kHeight;
  std::vector<float> forward(size_t(kWidth) * kHeight * 2, -7);
  const EKLayer layer{EK_LAYER_FORWARD, 0, forward.data()};
  ASSERT_EQ(
      ekRenderLayers(context, &camera, &settings, nullptr, 0, &layer, 1, nullptr, nullptr, nullptr),
      0)
      << ekLastError(context);
  const float expected = 1.0f / 50 / (2 * 3.14159265f) * kWidth;
  for (const int x : {63, 64, 0, 127}) { // ahead at the centre, behind at both edges
    const size_t i = size_t(kHeight / 2) * kWidth + size_t(x);
    EXPECT_NEAR(forward[2 * i], expected, 0.01f * expected) << "x " << x;
    EXPECT_NEAR(forward[2 * i + 1], 0.0f, 0.01f * expected) << "x " << x;
  }
}

// Without velocities the particles stand still.
TEST_P(RenderLayers, MotionWithoutVelocitiesIsZero) {
  std::vector<EKV3> positions;
  addSheet(positions, 2000, -8, 8, -8, 8, 50);
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), nullptr, nullptr, positions.size(), 0), 0);
  const Layered r =
      renderLayers(context, settingsFor(EK_MODE_ADDITIVE), {}, {{EK_LAYER_FORWARD, 0}});
  for (float v : r.layers[0])
    ASSERT_EQ(v, 0.0f);
}

// A lit ball: the layered render gives ekRender's very images, and its parts (emission, ambient,
// a red and a blue light) add up to the beauty's colour; raw and coverage are the beauty before
// its curves.
TEST_P(RenderLayers, VolumetricPartsSumToTheBeauty) {
  ek::test::uploadBall(context, 20000);
  EKRenderSettings settings = settingsFor(EK_MODE_VOLUMETRIC);
  settings.density = 3;
  settings.samples = 3; // a copy's samples coincide: each is shaded once and added three times
  settings.emission = 0.1f;
  settings.ambient[0] = 0.05f;
  settings.ambient[1] = 0.05f;
  settings.ambient[2] = 0.06f;
  std::vector<EKLight> lights(2);
  lights[0].type = EK_LIGHT_POINT;
  lights[0].position = {10, 10, -20};
  lights[0].color[0] = 2;
  lights[0].castsShadows = 1;
  lights[1].type = EK_LIGHT_DIRECTIONAL;
  lights[1].direction = {-1, 0, -1};
  lights[1].color[2] = 1.5f;
  EKCamera camera = originCamera(); // the ball sits at the origin: seen from 30 units away
  camera.eye = {0, 0, 30};
  camera.target = {0, 0, 0};
  const std::vector<std::pair<int32_t, int32_t>> kinds = {
      {EK_LAYER_EMISSION, 0}, {EK_LAYER_AMBIENT, 0}, {EK_LAYER_LIGHT, 0},
      {EK_LAYER_LIGHT, 1},    {EK_LAYER_RAW, 0},     {EK_LAYER_COVERAGE, 0}};
  std::vector<std::vector<float>> layers;
  std::vector<EKLayer> request;
  for (const auto &[kind, light] : kinds)
    layers.emplace_back(size_t(kSize) * kSize * size_t(ekLayerChannels(kind)), -7.0f);
  for (size_t n = 0; n < kinds.size(); ++n)
    request.push_back({kinds[n].first, kinds[n].second, layers[n].data()});
  const size_t pixels = size_t(kSize) * kSize;
  std::vector<float> plain(pixels * 4), layered(pixels * 4);
  std::vector<uint8_t> plain8(pixels * 4), layered8(pixels * 4);
  ASSERT_EQ(
      ekRender(context, &camera, &settings, lights.data(), 2, plain8.data(), plain.data(), nullptr),
      0);
  ASSERT_EQ(ekRenderLayers(context, &camera, &settings, lights.data(), 2, request.data(),
                           int32_t(request.size()), layered8.data(), layered.data(), nullptr),
            0)
      << ekLastError(context);
  // With one worker every pass runs in one order; with several, or on a GPU, the maps'
  // atomic sums may round differently from one render to the next, ekRender's own included.
  if (GetParam().workers == 1) {
    EXPECT_EQ(plain, layered);
    EXPECT_EQ(plain8, layered8);
  }
  for (size_t i = 0; i < plain.size(); ++i) {
    ASSERT_NEAR(plain[i], layered[i], 1e-5f);
    ASSERT_NEAR(plain8[i], layered8[i], 1);
  }

  const std::vector<float> &emission = layers[0], &ambient = layers[1], &red = layers[2],
                           &blue = layers[3], &raw = layers[4], &coverage = layers[5];
  float redSum = 0, blueSum = 0;
  for (size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c) {
      const size_t k = 3 * i + size_t(c);
      const float beauty = layered[4 * i + size_t(c)];
      const float parts = emission[k] + ambient[k] + red[k] + blue[k];
      ASSERT_NEAR(parts, beauty, beauty * 0x1p-11f + 1e-7f) << "pixel " << i << " channel " << c;
      ASSERT_NEAR(1.0f - std::exp(-raw[k]), beauty, 1e-6f);
    }
    EXPECT_EQ(red[3 * i + 1], 0.0f);
    EXPECT_EQ(red[3 * i + 2], 0.0f);
    EXPECT_EQ(blue[3 * i], 0.0f);
    EXPECT_EQ(blue[3 * i + 1], 0.0f);
    ASSERT_NEAR(1.0f - std::exp(-coverage[i]), layered[4 * i + 3], 1e-6f);
    redSum += red[3 * i];
    blueSum += blue[3 * i + 2];
  }
  EXPECT_GT(redSum, 1.0f);
  EXPECT_GT(blueSum, 1.0f);
}

// The additive look's only part is its emission, the beauty's colour itself; its coverage is the
// exposed alpha sum before it is raised to the colour.
TEST_P(RenderLayers, AdditiveEmissionIsTheBeauty) {
  std::vector<EKV3> positions;
  addSheet(positions, 3000, -8, 8, -8, 8, 50);
  const std::vector<uint8_t> colors(positions.size() * 4, 200);
  ASSERT_EQ(ekReserve(context, positions.size(), 0), 0);
  ASSERT_EQ(ekUpload(context, positions.data(), colors.data(), nullptr, positions.size(), 0), 0);
  const Layered r = renderLayers(context, settingsFor(EK_MODE_ADDITIVE), {},
                                 {{EK_LAYER_EMISSION, 0}, {EK_LAYER_COVERAGE, 0}});
  int lit = 0;
  for (size_t i = 0; i < size_t(kSize) * kSize; ++i) {
    for (int c = 0; c < 3; ++c)
      ASSERT_NEAR(r.layers[0][3 * i + size_t(c)], r.beauty[4 * i + size_t(c)], 1e-6f);
    ASSERT_NEAR(1.0f - std::exp(-r.layers[1][i]), r.beauty[4 * i + 3], 1e-6f);
    lit += r.beauty[4 * i] > 0;
  }
  EXPECT_GT(lit, 100);
}

// Requests the look cannot serve fail whole: the error names the fault, and neither the images
// nor any layer is written.
TEST_P(RenderLayers, BadRequestsFailAndWriteNothing) {
  ek::test::uploadBall(context, 500);
  const EKCamera camera = originCamera();
  std::vector<EKLight> lights(1);
  lights[0].color[0] = 1;
  std::vector<float> image(size_t(kSize) * kSize * 4, -3), coverage(size_t(kSize) * kSize, -3),
      part(size_t(kSize) * kSize * 3, -3);
  struct Case {
    int32_t mode;
    EKLayer second;
    const char *error;
  };
  const Case cases[] = {
      {EK_MODE_VOLUMETRIC, {99, 0, part.data()}, "ekRenderLayers: unknown layer kind 99"},
      {EK_MODE_ADDITIVE,
       {EK_LAYER_LIGHT, 0, part.data()},
       "ekRenderLayers: the additive look has no light layer"},
      {EK_MODE_ADDITIVE,
       {EK_LAYER_AMBIENT, 0, part.data()},
       "ekRenderLayers: the additive look has no ambient layer"},
      {EK_MODE_VOLUMETRIC,
       {EK_LAYER_LIGHT, 1, part.data()},
       "ekRenderLayers: no light 1 for its layer (1 lights used)"},
      {EK_MODE_VOLUMETRIC,
       {EK_LAYER_COVERAGE, 0, part.data()},
       "ekRenderLayers: layer 1 asked for twice"},
      {EK_MODE_VOLUMETRIC, {EK_LAYER_RAW, 0, nullptr}, "ekRenderLayers: layer 1 has no pixels"},
  };
  for (const Case &c : cases) {
    const EKRenderSettings settings = settingsFor(c.mode);
    const EKLayer request[2] = {{EK_LAYER_COVERAGE, 0, coverage.data()}, c.second};
    EXPECT_EQ(ekRenderLayers(context, &camera, &settings, lights.data(), 1, request, 2, nullptr,
                             image.data(), nullptr),
              1);
    EXPECT_STREQ(ekLastError(context), c.error);
  }
  const EKRenderSettings settings = settingsFor(EK_MODE_VOLUMETRIC);
  EXPECT_EQ(ekRenderLayers(context, &camera, &settings, nullptr, 0, nullptr, 1, nullptr,
                           image.data(), nullptr),
            1);
  EXPECT_STREQ(ekLastError(context), "ekRenderLayers: invalid layer list");
  for (float v : image)
    ASSERT_EQ(v, -3.0f);
  for (float v : coverage)
    ASSERT_EQ(v, -3.0f);
  for (float v : part)
    ASSERT_EQ(v, -3.0f);
  EXPECT_EQ(ekGetCount(context), 500u);
}

EK_INSTANTIATE_FOR_BACKENDS_AND_WORKER_COUNTS(RenderLayers);

} // namespace
