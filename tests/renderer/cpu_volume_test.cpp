// The CPU backend's volumetric launches against the shared item functions run one after the
// other: the launches place samples ahead of their use, split the work among workers and skip
// columns that are all zero, which must change nothing but the speed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "cpu/cpu_device.h"
#include "cpu/spatial_order.h"
#include "frame_builder.h"
#include "kernels/volume.h"
#include "scene_records.h"
#include "volume_setup.h"

namespace {

using namespace ek;

// A moving ball of particles with repopulated copies and several samples, lit by a spot, a point
// light (a cube of six maps) and a sun, all casting shadows; dense enough that some light samples
// spread over many texels. `stillShutter` closes the shutter: the samples of a copy then coincide
// (three of them, so that the launches' ranges split copies).
struct LitCloud {
  std::vector<EKV3> positions, velocities;
  std::vector<Rgba8> colors;
  ek::Frame frame;
  VolumeConstants vol{};
  uint64_t shadowCells = 0;
  uint64_t pixels = 0;
};

LitCloud litCloud(int particles, bool stillShutter) {
  LitCloud c;
  std::mt19937 random(12);
  std::uniform_real_distribution<float> uniform(-6.0f, 6.0f);
  for (int i = 0; i < particles; ++i) {
    c.positions.push_back({uniform(random), uniform(random), uniform(random)});
    c.velocities.push_back({uniform(random) * 0.1f, 0.0f, uniform(random) * 0.1f});
    c.colors.push_back(Rgba8{uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 29), 255});
  }
  c.positions[7] = {NAN, 0, 0};
  const EKCamera camera = ek::test::lookingAt({0, 5, 30}, {0, 0, 0}, 40);
  EKRenderSettings s = ek::test::volumeSettings(96, 64, 0, 32, 12, 8);
  s.repopulation = 1;
  s.radius = 0.4f;
  s.samples = stillShutter ? 3 : 2;
  s.shutter = stillShutter ? 0.0f : 0.5f;
  s.emission = 0.05f;
  s.scattering = 0.3f;
  s.ambient[0] = 0.1f;
  EKLight lights[3] = {};
  lights[0].type = EK_LIGHT_SPOT;
  lights[0].position = {0, 20, 20};
  lights[0].direction = {0, -1, -1};
  lights[0].color[0] = lights[0].color[1] = lights[0].color[2] = 3;
  lights[0].outerAngle = 60;
  lights[0].innerAngle = 40;
  lights[1].type = EK_LIGHT_POINT;
  lights[1].position = {4, 1, 0}; // inside the cloud: samples on every face
  lights[1].color[0] = 2;
  lights[1].falloff = EK_FALLOFF_INVERSE_SQUARE;
  lights[1].falloffRadius = 5;
  lights[2].type = EK_LIGHT_DIRECTIONAL;
  lights[2].direction = {1, -1, 0};
  lights[2].color[2] = 1;
  for (EKLight &light : lights)
    light.castsShadows = 1;
  c.frame = buildFrame(camera, s);
  const Box box{{-7, -7, -7}, {7, 7, 7}};
  c.shadowCells = buildVolumeConstants(camera, s, c.frame, lights, 3, box, 0.02f, c.vol);
  c.pixels = uint64_t(s.width) * uint64_t(s.height);
  return c;
}

template <typename T>
void expectSame(const std::vector<T> &a, const std::vector<T> &b, const char *what) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    ASSERT_EQ(std::memcmp(&a[i], &b[i], sizeof(T)), 0) << what << " " << i;
}

// Prefix of whole groups and of the columns left over, with and without totals: to the bit as
// prefixColumn.
TEST(CpuVolume, PrefixAgreesWithPrefixColumn) {
  CpuDevice device(3, VectorPaths{});
  std::mt19937 random(5);
  for (int depth : {64, 12, 6, 1}) {
    for (uint64_t columns : {uint64_t(5000), uint64_t(13), uint64_t(8)}) {
      std::vector<MapCell> data(columns * uint64_t(depth));
      for (size_t i = 0; i < data.size(); ++i)
        data[i] = i % 5 == 0 ? 0 : random() >> (i % 3 == 0 ? 1 : 10);
      for (bool withTotals : {true, false}) {
        std::vector<MapCell> expected = data, actual = data;
        std::vector<float> expectedTotals(columns, -1.0f), actualTotals(columns, -1.0f);
        for (uint64_t c = 0; c < columns; ++c)
          prefixColumn(expected.data() + c * uint64_t(depth), depth,
                       withTotals ? &expectedTotals[c] : nullptr);
        device.launch(1, ek::PrefixArgs{actual.data(), columns, depth,
                                        withTotals ? actualTotals.data() : nullptr});
        expectSame(actual, expected, "column");
        expectSame(actualTotals, expectedTotals, "total");
      }
    }
  }
}

// Maps in device memory whose deposits reach few of their columns, as a light pass's do: the
// prefix passes over the columns reached only, which must give prefixColumn's floats for every
// column (also in groups of eight with one, two or all columns reached, and for columns that share
// or straddle the blocks the memory flags), and a clear afterwards must leave every byte zero for
// the next frame, also where a column's floats reached into a block no deposit flagged.
TEST(CpuVolume, PrefixOfSparselyReachedMapsAgreesWithPrefixColumn) {
  CpuDevice device(3, VectorPaths{});
  std::mt19937 random(9);
  for (int depth : {64, 100, 32, 12}) {
    const uint64_t columns = 4096, cells = columns * uint64_t(depth);
    void *pointer = nullptr;
    ASSERT_EQ(device.allocate(&pointer, cells * sizeof(MapCell)), kDeviceOk);
    MapCell *const map = static_cast<MapCell *>(pointer);
    const DirtyTiles tiles = device.memoryTiles(map);
    for (int frame = 0; frame < 3; ++frame) {
      SCOPED_TRACE(testing::Message() << "depth " << depth << ", frame " << frame);
      std::vector<MapCell> expected(cells, 0);
      auto deposit = [&](uint64_t column, int slice, MapCell value) {
        MapCell *cell = map + column * uint64_t(depth) + uint64_t(slice);
        tiles.markForAtomicAdd(cell);
        *cell += value;
        expected[column * uint64_t(depth) + uint64_t(slice)] += value;
      };
      for (uint64_t group = 0; group < columns / 8; ++group) {
        const uint64_t reached = (group + uint64_t(frame)) % 4 == 0 ? 8 : (group + frame) % 4;
        for (uint64_t k = 0; k < reached; ++k)
          deposit(group * 8 + (k * 3 + uint64_t(frame)) % 8, int(random() % uint32_t(depth)),
                  MapCell(random() >> 8));
      }
      std::vector<float> expectedTotals(columns), totals(columns, -1.0f);
      for (uint64_t c = 0; c < columns; ++c)
        prefixColumn(expected.data() + c * uint64_t(depth), depth, &expectedTotals[c]);
      device.launch(1, ek::PrefixArgs{map, columns, depth, totals.data()});
      ASSERT_EQ(std::memcmp(map, expected.data(), cells * sizeof(MapCell)), 0);
      expectSame(totals, expectedTotals, "total");
      ASSERT_EQ(device.fill(map, 0, cells * sizeof(MapCell)), kDeviceOk);
      for (uint64_t i = 0; i < cells; ++i)
        ASSERT_EQ(map[i], 0u) << i;
    }
    ASSERT_EQ(device.takeLaunchError(), kDeviceOk);
    device.release(pointer);
  }
}

// The three splatting launches against lightSplatWork, camSplatWork and shadeWork, item after
// item in the launch's visiting order: index order, or the space order of a bounds pass (whose
// positions the CPU keeps in that order). The shading takes where the passes before it placed
// their samples only where those passes had its frame and constants. To the bit on any number of
// workers: the maps' sums do not depend on the order of their additions, and a launch this small
// shades on one worker.
void checkSplatsAndShade(bool spaceOrder, bool stillShutter) {
  // Copies that fill no whole block of eight where the light pass places eight at a time.
  const LitCloud c = litCloud(1501, stillShutter);
  const ek::Frame &f = c.frame;
  ASSERT_EQ(samplesCoincide(f, c.velocities.data()), stillShutter);
  ek::Frame oneSample = f;
  oneSample.samples = 1;
  const uint64_t lightWork = c.positions.size() * 2, work = lightWork * uint64_t(f.samples);
  const uint64_t depthCells = c.pixels * uint64_t(c.vol.camSlices);
  const uint32_t count = uint32_t(c.positions.size());

  // The visiting order, as the bounds pass makes it from the bounds it measures.
  std::vector<uint32_t> order(count);
  for (uint32_t i = 0; i < count; ++i)
    order[i] = i;
  float bounds[8];
  double moments[7] = {};
  if (spaceOrder) {
    const float initial[7] = {3.4e38f, 3.4e38f, 3.4e38f, -3.4e38f, -3.4e38f, -3.4e38f, 0};
    std::copy(initial, initial + 7, bounds);
    CpuDevice measure(1, VectorPaths{});
    measure.launch(1,
                   ek::BoundsArgs{c.positions.data(), c.velocities.data(), count, bounds, moments});
    WorkerPool pool(1);
    SpatialOrder spatial;
    spatial.build(pool, c.positions.data(), count, bounds, bounds + 3);
    order.assign(spatial.order().begin(), spatial.order().end());
  }
  auto itemAt = [&](uint64_t item, int32_t samples) {
    WorkItem w = decodeWorkItem(item, f.repopulation, samples);
    w.particle = order[w.particle];
    return w;
  };

  std::vector<MapCell> maps(c.shadowCells, 0), depth(depthCells, 0);
  for (uint64_t i = 0; i < lightWork; ++i)
    lightSplatWork(oneSample, c.vol, c.positions.data(), c.velocities.data(), itemAt(i, 1),
                   maps.data());
  for (uint64_t i = 0; i < work; ++i)
    camSplatWork(f, c.vol, c.positions.data(), c.velocities.data(), itemAt(i, f.samples),
                 depth.data());
  int spread = 0;
  for (MapCell v : maps)
    spread += v > 0;
  EXPECT_GT(spread, 3000) << "deposits reach many texels";
  std::vector<MapCell> prefixedMaps = maps, prefixedDepth = depth;
  std::vector<float> totals(c.pixels);
  for (uint64_t t = 0; t < c.shadowCells / 12; ++t)
    prefixColumn(prefixedMaps.data() + t * 12, 12, nullptr);
  for (uint64_t p = 0; p < c.pixels; ++p)
    prefixColumn(prefixedDepth.data() + p * 8, 8, &totals[p]);
  std::vector<float> image(c.pixels * 4, 0.0f);
  int shaded = 0;
  for (uint64_t i = 0; i < work; ++i) {
    SplatSample s;
    if (!shadeWork(f, c.vol, c.positions.data(), c.colors.data(), c.velocities.data(),
                   itemAt(i, f.samples), prefixedMaps.data(), prefixedDepth.data(), s))
      continue;
    ++shaded;
    float *cell = &image[size_t(s.pixel) * 4];
    const float value[4] = {s.value.r, s.value.g, s.value.b, s.value.a};
    for (int k = 0; k < 4; ++k)
      cell[k] += value[k];
  }
  EXPECT_GT(shaded, int(work / 4));

  // The scalar launches, and the vectorised paths where this build and processor have them.
  for (const VectorPaths &paths : {VectorPaths{}, vectorPathsFor(detectCpuFeatures())})
    for (unsigned workers : {1u, 3u, 8u}) {
      CpuDevice device(workers, paths);
      if (spaceOrder) {
        float unused[8] = {};
        double unusedMoments[7] = {};
        device.launch(1, ek::BoundsArgs{c.positions.data(), c.velocities.data(), count, unused,
                                        unusedMoments});
      }
      std::vector<MapCell> deviceMaps(c.shadowCells, 0), deviceDepth(depthCells, 0);
      device.launch(1, ek::LightSplatArgs{oneSample, c.vol, c.positions.data(), c.velocities.data(),
                                          lightWork, deviceMaps.data()});
      device.launch(1, ek::CamSplatArgs{f, c.vol, c.positions.data(), c.velocities.data(), work,
                                        deviceDepth.data()});
      expectSame(deviceMaps, maps, "shadow maps");
      expectSame(deviceDepth, depth, "camera depth");
      auto shadeAndCheck = [&](const char *what) {
        std::vector<Rgba32f> accumulator(c.pixels, Rgba32f{0, 0, 0, 0});
        device.launch(1,
                      ek::ShadeArgs{f, c.vol, c.positions.data(), c.colors.data(),
                                    c.velocities.data(), work, prefixedMaps.data(),
                                    prefixedDepth.data(), accumulator.data(), ek::ShadeLayers{}});
        std::vector<float> deviceImage(c.pixels * 4);
        std::memcpy(deviceImage.data(), accumulator.data(), deviceImage.size() * sizeof(float));
        expectSame(deviceImage, image, what);
      };
      shadeAndCheck("image");
      // After a light pass with other maps, the shading with these looks its samples up itself
      // instead of taking where that pass's samples landed.
      VolumeConstants otherMaps = c.vol;
      for (int m = 0; m < otherMaps.shadowMapCount; ++m)
        otherMaps.maps[m].view[3] += 1.5f;
      std::vector<MapCell> scratch(c.shadowCells, 0);
      device.launch(1, ek::LightSplatArgs{oneSample, otherMaps, c.positions.data(),
                                          c.velocities.data(), lightWork, scratch.data()});
      shadeAndCheck("image after a light pass with other maps");
      // Likewise after a camera pass for another camera or other depth slices: the shading places
      // its samples itself instead of taking where that pass placed them.
      ek::Frame otherCamera = f;
      otherCamera.view[3] += 0.7f;
      VolumeConstants otherSlices = c.vol;
      otherSlices.camDepthScale *= 1.25f;
      std::vector<MapCell> scratchDepth(depthCells, 0);
      device.launch(1, ek::CamSplatArgs{otherCamera, c.vol, c.positions.data(), c.velocities.data(),
                                        work, scratchDepth.data()});
      shadeAndCheck("image after a camera pass for another camera");
      device.launch(1, ek::CamSplatArgs{f, otherSlices, c.positions.data(), c.velocities.data(),
                                        work, scratchDepth.data()});
      shadeAndCheck("image after a camera pass with other depth slices");
      ASSERT_EQ(device.takeLaunchError(), kDeviceOk);
    }
}

// The copies' positions a frame's passes share: a launch for other copies (another radius or
// repopulation) or, after a bounds pass, for more or moved particles places its samples where the
// item functions do, never where an earlier launch's copies lay. The camera depth map's sums do not
// depend on the order of their additions, so index order gives the expected map.
TEST(CpuVolume, CopiesFollowTheFrameAndTheParticles) {
  LitCloud c = litCloud(1200, true);
  uint32_t count = 700; // the first frame has fewer particles than the ones after it
  const uint64_t depthCells = c.pixels * uint64_t(c.vol.camSlices);
  CpuDevice device(2, VectorPaths{});
  auto measure = [&] {
    float bounds[8] = {3.4e38f, 3.4e38f, 3.4e38f, -3.4e38f, -3.4e38f, -3.4e38f, 0};
    double moments[7] = {};
    device.launch(1, ek::BoundsArgs{c.positions.data(), nullptr, count, bounds, moments});
  };
  auto checkCameraSplat = [&](const ek::Frame &f, const char *what) {
    const uint64_t work = count * itemsPerParticle(f.repopulation, f.samples);
    std::vector<MapCell> expected(depthCells, 0), actual(depthCells, 0);
    for (uint64_t i = 0; i < work; ++i)
      camSplatItem(f, c.vol, c.positions.data(), nullptr, i, expected.data());
    device.launch(1, ek::CamSplatArgs{f, c.vol, c.positions.data(), nullptr, work, actual.data()});
    SCOPED_TRACE(what);
    expectSame(actual, expected, "camera depth");
  };
  ek::Frame f = c.frame;
  measure();
  checkCameraSplat(f, "first frame");
  count = uint32_t(c.positions.size());
  measure();
  checkCameraSplat(f, "more particles");
  f.radius *= 2.5f;
  checkCameraSplat(f, "wider copies");
  f.repopulation = 3;
  checkCameraSplat(f, "more copies");
  f.radius = c.frame.radius;
  checkCameraSplat(f, "the first copies again");
  for (EKV3 &p : c.positions)
    p = {p.z * 0.5f, p.x, p.y + 1.0f};
  measure();
  checkCameraSplat(f, "moved particles");
  ASSERT_EQ(device.takeLaunchError(), kDeviceOk);
}

TEST(CpuVolume, SplatsAndShadeAgreeWithTheItemFunctionsInIndexOrder) {
  checkSplatsAndShade(false, false);
}

TEST(CpuVolume, SplatsAndShadeAgreeWithTheItemFunctionsInSpaceOrder) {
  checkSplatsAndShade(true, false);
}

// Without motion blur every sample of a copy lands in the same place: the launches place a copy
// once and deposit and shade it once for each of its samples in their range.
TEST(CpuVolume, CoincidingSamplesAgreeWithTheItemFunctions) {
  checkSplatsAndShade(false, true);
  checkSplatsAndShade(true, true);
}

} // namespace
