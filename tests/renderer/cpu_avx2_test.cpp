#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "cpu/cpu_device.h"
#include "cpu/cpu_vector_paths.h"
#include "frame_builder.h"
#include "kernels/volume.h"
#include "scene_records.h"
#include "volume_setup.h"

namespace {

// The vectorised paths this build and processor run; empty where there are none.
ek::VectorPaths vectorPaths() { return ek::vectorPathsFor(ek::detectCpuFeatures()); }

// A perspective camera looking down -z at a cloud of moving particles around z = -30, with
// repopulated copies and several samples each, so that samples draw from their stream.
struct MovingCloud {
  std::vector<EKV3> positions, velocities;
  std::vector<Rgba8> colors;
  ek::Frame frame;
};

MovingCloud movingCloud(int particles, bool lens, int32_t width = 320, int32_t height = 200) {
  MovingCloud cloud;
  std::mt19937 random(8);
  std::uniform_real_distribution<float> uniform(-20.0f, 20.0f);
  for (int i = 0; i < particles; ++i) {
    cloud.positions.push_back({uniform(random), uniform(random), uniform(random) - 30.0f});
    cloud.velocities.push_back(
        {uniform(random) * 0.1f, uniform(random) * 0.1f, uniform(random) * 0.1f});
    cloud.colors.push_back(Rgba8{uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 29), 255});
  }
  cloud.positions[5] = {0, 0, 0}; // at the camera: culled by the near plane
  EKCamera camera = ek::test::lookingAt({0, 0, 0}, {0, 0, -1}, 50);
  camera.aperture = lens ? 0.8f : 0.0f;
  camera.focusDistance = lens ? 25.0f : 0.0f;
  EKRenderSettings settings = ek::test::imageSettings(width, height);
  settings.repopulation = 2;
  settings.radius = 0.7f;
  settings.samples = 3;
  settings.shutter = 1.5f;
  settings.seed = 77;
  cloud.frame = ek::buildFrame(camera, settings);
  return cloud;
}

// Loads work items [first, first + count) of the cloud into a block of lanes as the splat launch
// feeds the lane path: the samples of a copy share a run (with `sharedRuns`) or each lane has a run
// of its own, holding the particle moved to its copy's place, its stream keys and its velocity.
// The lanes past `count` get a run holding item `stray`, which must not be reported.
void loadBlock(const MovingCloud &cloud, uint64_t first, uint32_t count, bool sharedRuns,
               uint64_t stray, ek::SampleLanes &lanes) {
  const ek::Frame &f = cloud.frame;
  auto setRun = [&](uint32_t run, uint64_t item, uint32_t lane) {
    const ek::WorkItem w = ek::decodeWorkItem(item, f.repopulation, f.samples);
    const EKV3 p = ek::copyPosition(f, cloud.positions[w.particle], w);
    lanes.particleKey[run] = ek::particleStreamKey(w.particle);
    lanes.keyBase[run] = ek::sampleStreamKey(w.copy, w.sample - lane, f.seed);
    lanes.x[run] = p.x;
    lanes.y[run] = p.y;
    lanes.z[run] = p.z;
    lanes.vx[run] = cloud.velocities[w.particle].x;
    lanes.vy[run] = cloud.velocities[w.particle].y;
    lanes.vz[run] = cloud.velocities[w.particle].z;
  };
  uint32_t runs = 0;
  for (uint32_t lane = 0; lane < count; ++lane) {
    const uint64_t item = first + lane;
    const bool sameCopy =
        lane > 0 && (item / uint64_t(f.samples)) == ((item - 1) / uint64_t(f.samples));
    if (!sharedRuns || !sameCopy)
      setRun(runs++, item, lane);
    lanes.run[lane] = uint8_t(runs - 1);
  }
  if (count < ek::SampleLanes::kLanes)
    setRun(runs, stray, count);
  for (uint32_t lane = count; lane < ek::SampleLanes::kRoom; ++lane)
    lanes.run[lane] = uint8_t(runs);
}

// The vectorised resolves against the shared scalar item functions, on ordinary values and on
// every awkward one.
TEST(VectorisedResolve, AgreesWithTheItemFunctions) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.resolve || !paths.resolveVol)
    GTEST_SKIP() << "no vectorised resolve in this build or on this processor";
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::mt19937 random(4);
  std::uniform_real_distribution<float> uniform(0.0f, 3.0f);
  const int pixels = 1001; // odd: the last pixel takes the scalar tail
  std::vector<Rgba32f> accumulator(pixels);
  std::vector<float> totals(pixels);
  for (int i = 0; i < pixels; ++i) {
    accumulator[i] = {uniform(random), uniform(random), uniform(random), uniform(random)};
    totals[i] = uniform(random);
    if (i % 7 == 0)
      accumulator[i] = {0, 0, 0, 0};
    if (i % 11 == 0)
      totals[i] = 0;
  }
  accumulator[3] = {nan, 0.5f, 0, 0};
  accumulator[5] = {inf, -1.0f, 1e30f, -inf};
  accumulator[9] = {-0.0f, 0.0f, -0.0f, 0.0f};
  totals[5] = inf;

  for (float exposure : {1.0f, 0.0f, 2.5f, -1.0f}) {
    for (bool volumetric : {false, true}) {
      std::vector<Rgba8> scalarBytes(pixels), vectorBytes(pixels);
      std::vector<Rgba32f> scalarFloats(pixels), vectorFloats(pixels);
      for (int i = 0; i < pixels; ++i) {
        if (volumetric)
          ek::resolveVolPixel(accumulator.data(), totals.data(), scalarBytes.data(),
                              scalarFloats.data(), i, exposure);
        else
          ek::resolvePixel(accumulator.data(), scalarBytes.data(), scalarFloats.data(), i,
                           exposure);
      }
      if (volumetric)
        paths.resolveVol({accumulator.data(), totals.data(), vectorBytes.data(),
                          vectorFloats.data(), pixels, exposure},
                         0, pixels);
      else
        paths.resolve(
            {accumulator.data(), vectorBytes.data(), vectorFloats.data(), pixels, exposure}, 0,
            pixels);
      for (int i = 0; i < pixels; ++i) {
        const float *s = &scalarFloats[i].r;
        const float *v = &vectorFloats[i].r;
        const uint8_t *sb = &scalarBytes[i].r;
        const uint8_t *vb = &vectorBytes[i].r;
        for (int c = 0; c < 4; ++c) {
          if (std::isnan(s[c]) || std::isinf(s[c]))
            ASSERT_EQ(std::isnan(v[c]) ? 0.0f : v[c], std::isnan(s[c]) ? 0.0f : s[c])
                << i << " " << c;
          else
            ASSERT_NEAR(v[c], s[c], 1e-6f * std::max(1.0f, std::fabs(s[c]))) << i << " " << c;
          ASSERT_LE(std::abs(int(vb[c]) - int(sb[c])), 1) << i << " " << c;
        }
        // The bytes are exactly the SLEEF encoding of the floats written beside them.
        if (paths.gammaBytes) {
          uint8_t sleef[3];
          paths.gammaBytes(v, sleef, 3, false);
          ASSERT_EQ(std::memcmp(vb, sleef, 3), 0) << i;
        }
        ASSERT_EQ(vb[3], 255);
      }
    }
  }
}

// The resolve's gamma table against SLEEF's functions it was made from: every float near each
// change of byte (where SLEEF's rounding is not monotonic), a sweep over all bit patterns, and the
// awkward values.
TEST(VectorisedResolve, GammaTableGivesTheSleefBytes) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.gammaBytes)
    GTEST_SKIP() << "no gamma table in this build or on this processor";
  auto floatOf = [](uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  };
  auto sleefByte = [&](uint32_t bits) {
    const float f = floatOf(bits);
    uint8_t b;
    paths.gammaBytes(&f, &b, 1, false);
    return b;
  };
  std::vector<float> values;
  // The first float of each byte from 1 to 255, by bisection over the positive bit patterns.
  for (int byte = 1; byte <= 255; ++byte) {
    uint32_t low = 0, high = 0x7F800000u;
    while (low < high) {
      const uint32_t mid = low + (high - low) / 2;
      if (sleefByte(mid) >= byte)
        high = mid;
      else
        low = mid + 1;
    }
    for (uint32_t bits = low - 2048; bits != low + 2048; ++bits)
      values.push_back(floatOf(bits));
  }
  for (uint64_t bits = 0; bits < (uint64_t(1) << 32); bits += 251)
    values.push_back(floatOf(uint32_t(bits)));
  const float inf = std::numeric_limits<float>::infinity();
  for (float f : {0.0f, -0.0f, 1e-45f, 1e-40f, 1.17549435e-38f, 1e-7f, 1.0f, 1.0000001f, 2.0f,
                  1e30f, 3.4e38f, inf, -inf, -1e-45f, -1.0f, std::nanf(""), -std::nanf("")})
    values.push_back(f);
  std::vector<uint8_t> byTable(values.size()), bySleef(values.size());
  paths.gammaBytes(values.data(), byTable.data(), values.size(), true);
  paths.gammaBytes(values.data(), bySleef.data(), values.size(), false);
  for (size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(int(byTable[i]), int(bySleef[i])) << "value " << values[i];
  // And the encoding is the scalar gammaByte's, within the one step SLEEF's error allows.
  for (size_t i = 0; i < values.size(); i += 97)
    ASSERT_LE(std::abs(int(bySleef[i]) - int(ek::gammaByte(values[i]))), 1) << values[i];
}

// The lanes' sine and cosine of the lens angle against sinf and cosf on every angle the lens can
// draw: kTwoPi times each of the 2^24 values nextRandom gives, formed as projectPerspective forms
// it. One float of difference could move a sample across a pixel edge.
TEST(VectorisedSamples, LensSineAndCosineAreTheCLibrarysOnEveryAngle) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.sineCosine)
    GTEST_SKIP() << "no vectorised sample placement in this build or on this processor";
  constexpr uint32_t kDraws = 1u << 24, kChunk = 1u << 16;
  std::vector<float> angles(kChunk), sine(kChunk), cosine(kChunk);
  uint32_t sineMismatches = 0, cosineMismatches = 0;
  for (uint32_t first = 0; first < kDraws; first += kChunk) {
    for (uint32_t i = 0; i < kChunk; ++i) // nextRandom's draw where state >> 8 is first + i
      angles[i] = ek::kTwoPi * (float(first + i) * ek::kRandomScale);
    paths.sineCosine(angles.data(), sine.data(), cosine.data(), kChunk);
    for (uint32_t i = 0; i < kChunk; ++i) {
      const float expectedSine = sinf(angles[i]), expectedCosine = cosf(angles[i]);
      if (std::memcmp(&sine[i], &expectedSine, 4) != 0 && sineMismatches++ < 3)
        ADD_FAILURE() << "sine of " << angles[i] << ": " << sine[i] << ", not " << expectedSine;
      if (std::memcmp(&cosine[i], &expectedCosine, 4) != 0 && cosineMismatches++ < 3)
        ADD_FAILURE() << "cosine of " << angles[i] << ": " << cosine[i] << ", not "
                      << expectedCosine;
    }
  }
  EXPECT_EQ(sineMismatches, 0u);
  EXPECT_EQ(cosineMismatches, 0u);
}

// The check that decides whether the device places samples in lanes: it passes with this
// process's C library, and fails for a sine or a cosine one float off on a few angles in a
// hundred, as another library's would be.
decltype(ek::VectorPaths::sineCosine) checkedSineCosine = nullptr;

void sineCosineWithSineOff(const float *angles, float *sine, float *cosine, uint64_t count) {
  checkedSineCosine(angles, sine, cosine, count);
  for (uint64_t i = 0; i < count; ++i)
    if (i % 37 == 5)
      sine[i] = std::nextafter(sine[i], 2.0f);
}

void sineCosineWithCosineOff(const float *angles, float *sine, float *cosine, uint64_t count) {
  checkedSineCosine(angles, sine, cosine, count);
  for (uint64_t i = 0; i < count; ++i)
    if (i % 41 == 7)
      cosine[i] = std::nextafter(cosine[i], -2.0f);
}

TEST(VectorisedSamples, LanesPlaceSamplesOnlyWithTheCLibrarysAngles) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.sineCosine)
    GTEST_SKIP() << "no vectorised sample placement in this build or on this processor";
  EXPECT_TRUE(ek::sineCosineMatchesCLibrary(paths.sineCosine));
  EXPECT_NE(paths.placeSamples, nullptr);
  checkedSineCosine = paths.sineCosine;
  EXPECT_FALSE(ek::sineCosineMatchesCLibrary(sineCosineWithSineOff));
  EXPECT_FALSE(ek::sineCosineMatchesCLibrary(sineCosineWithCosineOff));
}

// Samples placed a block of lanes at a time against splatWorkItem, item by item, with motion blur
// and without, with a lens and without: the two must agree exactly. The last block is placed only
// in part; its other lanes hold a sample from elsewhere, which must not be reported. The samples
// of a copy share a run of lanes, and every block placed so must give the very bits of the same
// block with a run for each lane.
TEST(VectorisedSamples, AgreeWithTheItemFunction) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.placeSamples)
    GTEST_SKIP() << "no vectorised sample placement in this build, on this processor or with "
                    "this C library";
  const int particles = 3001; // 27009 items: the last block holds one lane
  for (bool lens : {false, true}) {
    for (bool blur : {true, false}) {
      const MovingCloud cloud = movingCloud(particles, lens);
      const ek::Frame &f = cloud.frame;
      const EKV3 *velocities = blur ? cloud.velocities.data() : nullptr;
      const char *what = lens ? (blur ? "lens and blur" : "lens") : (blur ? "blur" : "neither");
      int hits = 0;
      const uint64_t total = uint64_t(particles) * 3 * 3;
      for (uint64_t first = 0; first < total; first += ek::SampleLanes::kLanes) {
        const uint32_t count = uint32_t(std::min<uint64_t>(ek::SampleLanes::kLanes, total - first));
        ek::SampleLanes shared{}, single{};
        loadBlock(cloud, first, count, true, first * 337 % total, shared);
        loadBlock(cloud, first, count, false, first * 337 % total, single);
        uint32_t pixel[ek::SampleLanes::kLanes], singlePixel[ek::SampleLanes::kLanes];
        const uint64_t mask = paths.placeSamples(f, blur, shared, count, pixel);
        ASSERT_EQ(count == ek::SampleLanes::kLanes ? 0 : mask >> count, 0u) << "unfilled lanes";
        ASSERT_EQ(paths.placeSamples(f, blur, single, count, singlePixel), mask) << what;
        for (uint32_t lane = 0; lane < count; ++lane) {
          if ((mask >> lane) & 1u) {
            ASSERT_EQ(pixel[lane], singlePixel[lane]) << what << ", item " << first + lane;
          }
          ek::SplatSample expected;
          const bool hit = ek::splatSample(f, cloud.positions.data(), cloud.colors.data(),
                                           velocities, first + lane, expected);
          const bool vectorHit = (mask >> lane) & 1u;
          hits += hit;
          ASSERT_EQ(vectorHit, hit) << what << ", item " << first + lane;
          if (hit) {
            ASSERT_EQ(pixel[lane], expected.pixel) << what << ", item " << first + lane;
          }
        }
      }
      EXPECT_GT(hits, int(total / 3)) << what << ": most samples land in the image";
    }
  }
}

// The whole splat launch of a device with the vectorised paths against one without, on several
// workers (so ranges start and end inside a copy and inside a block of lanes), with few samples per
// copy and with more than eight (so a copy spans several steps of lanes, and blocks), with a lens
// and without: they place the same samples in the same order, so the accumulators agree to the
// bit.
TEST(VectorisedSamples, SplatLikeTheScalarDevice) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.placeSamples)
    GTEST_SKIP() << "no vectorised sample placement in this build, on this processor or with "
                    "this C library";
  for (bool lens : {false, true}) {
    MovingCloud cloud = movingCloud(1001, lens);
    for (int32_t samples : {3, 21}) {
      cloud.frame.samples = samples;
      const uint64_t total = uint64_t(cloud.positions.size()) * 3 * uint64_t(samples);
      auto splat = [&](const ek::VectorPaths &chosen) {
        ek::CpuDevice device(3, chosen);
        std::vector<Rgba32f> accumulator(size_t(cloud.frame.width) * cloud.frame.height,
                                         Rgba32f{0, 0, 0, 0});
        device.launch(1, ek::SplatArgs{cloud.frame, cloud.positions.data(), cloud.colors.data(),
                                       cloud.velocities.data(), total, accumulator.data()});
        return accumulator;
      };
      const std::vector<Rgba32f> vector = splat(paths), scalar = splat(ek::VectorPaths{});
      int lit = 0;
      for (size_t p = 0; p < scalar.size(); ++p) {
        lit += scalar[p].a > 0;
        ASSERT_EQ(std::memcmp(&vector[p], &scalar[p], sizeof(Rgba32f)), 0)
            << (lens ? "lens, " : "") << samples << " samples, pixel " << p;
      }
      EXPECT_GT(lit, 500) << samples << " samples";
    }
  }
}

// The lane path's splat on 1, 2 and 3 workers against sums made here: every sample placed by the
// same lane function, added in item order within each worker's part of the work, and the parts'
// images added in worker order; with motion blur, a lens, or both. Many samples land on each pixel
// of the small image, so a sample added out of turn, twice or not at all changes the bits of some
// pixel.
TEST(VectorisedSamples, SplatAddsEachPixelsSamplesInItemOrder) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.placeSamples)
    GTEST_SKIP() << "no vectorised sample placement in this build, on this processor or with "
                    "this C library";
  const int particles = 3001; // 27009 items: past the launches that run on one worker
  struct Case {
    bool lens, blur;
  };
  for (const Case c : {Case{false, true}, Case{true, true}, Case{true, false}}) {
    const MovingCloud cloud = movingCloud(particles, c.lens, 40, 25);
    const ek::Frame &f = cloud.frame;
    const EKV3 *velocities = c.blur ? cloud.velocities.data() : nullptr;
    const char *what = c.lens ? (c.blur ? "lens and blur" : "lens") : "blur";
    const uint64_t total = uint64_t(particles) * 3 * 3;
    const size_t pixels = size_t(f.width) * size_t(f.height);
    // Where each item lands (or not) and what it adds.
    std::vector<int64_t> itemPixel(total, -1);
    for (uint64_t first = 0; first < total; first += ek::SampleLanes::kLanes) {
      ek::SampleLanes lanes{};
      const uint32_t count = uint32_t(std::min<uint64_t>(ek::SampleLanes::kLanes, total - first));
      loadBlock(cloud, first, count, true, first, lanes);
      uint32_t pixel[ek::SampleLanes::kLanes];
      const uint64_t hits = paths.placeSamples(f, c.blur, lanes, count, pixel);
      for (uint32_t lane = 0; lane < count; ++lane)
        if ((hits >> lane) & 1u)
          itemPixel[first + lane] = pixel[lane];
    }
    for (unsigned workers : {1u, 2u, 3u}) {
      const uint64_t part = total / workers + (total % workers != 0);
      std::vector<Rgba32f> expected(pixels, Rgba32f{0, 0, 0, 0});
      for (uint64_t begin = 0; begin < total; begin += part) {
        std::vector<Rgba32f> partSums(pixels, Rgba32f{0, 0, 0, 0});
        for (uint64_t item = begin; item < std::min(total, begin + part); ++item) {
          if (itemPixel[item] < 0)
            continue;
          const ek::WorkItem w = ek::decodeWorkItem(item, f.repopulation, f.samples);
          const Rgba32f v = ek::splatValue(f, cloud.colors[w.particle]);
          Rgba32f &c = partSums[size_t(itemPixel[item])];
          c = {c.r + v.r, c.g + v.g, c.b + v.b, c.a + v.a};
        }
        for (size_t p = 0; p < pixels; ++p) {
          Rgba32f &e = expected[p];
          const Rgba32f &c = partSums[p];
          e = {e.r + c.r, e.g + c.g, e.b + c.b, e.a + c.a};
        }
      }
      ek::CpuDevice device(workers, paths);
      std::vector<Rgba32f> accumulator(pixels, Rgba32f{0, 0, 0, 0});
      device.launch(1, ek::SplatArgs{f, cloud.positions.data(), cloud.colors.data(), velocities,
                                     total, accumulator.data()});
      int crowded = 0;
      for (size_t p = 0; p < pixels; ++p) {
        crowded += expected[p].a > 8 * ek::splatValue(f, Rgba8{0, 0, 0, 255}).a;
        ASSERT_EQ(std::memcmp(&accumulator[p], &expected[p], sizeof(Rgba32f)), 0)
            << what << ", " << workers << " workers, pixel " << p;
      }
      EXPECT_GT(crowded, int(pixels / 4)) << what << ": many samples on most pixels";
    }
  }
}

} // namespace

// The volume constants of a render of the box -7 .. 7 seen from (0, 5, 30), lit by a spot (a
// perspective map with logarithmic depth), a point light (a cube of six maps) and a sun (an
// orthographic map with linear depth) that cast shadows and a point light that casts none;
// returns the floats its maps need.
uint64_t fourLights(const EKRenderSettings &settings, VolumeConstants &vol) {
  const EKCamera camera = ek::test::lookingAt({0, 5, 30}, {0, 0, 0}, 40);
  EKLight lights[4] = {};
  lights[0].type = EK_LIGHT_SPOT;
  lights[0].position = {0, 20, 20};
  lights[0].direction = {0, -1, -1};
  lights[0].outerAngle = 60;
  lights[1].type = EK_LIGHT_POINT;
  lights[1].position = {1, 1, 0};
  lights[2].type = EK_LIGHT_DIRECTIONAL;
  lights[2].direction = {1, -1, 0};
  lights[3].type = EK_LIGHT_POINT;
  lights[3].position = {-3, 2, 1};
  for (int i = 0; i < 4; ++i) {
    lights[i].castsShadows = i < 3;
    lights[i].color[0] = lights[i].color[1] = lights[i].color[2] = 0.5f + float(i);
  }
  const ek::Frame frame = ek::buildFrame(camera, settings);
  return ek::buildVolumeConstants(camera, settings, frame, lights, 4, {{-7, -7, -7}, {7, 7, 7}},
                                  0.02f, vol);
}

// 20,000 random points from `seed`: every `farEvery`th within farHalf of the origin on each axis,
// the others within nearHalf.
std::vector<EKV3> scatteredPoints(uint32_t seed, float nearHalf, float farHalf, int farEvery) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> near(-nearHalf, nearHalf), far(-farHalf, farHalf);
  std::vector<EKV3> points;
  for (int i = 0; i < 20000; ++i)
    points.push_back(i % farEvery == 0 ? EKV3{far(random), far(random), far(random)}
                                       : EKV3{near(random), near(random), near(random)});
  return points;
}

// The vectorised placing of light samples against lightSampleHit, mapSlices and
// lightSampleThickness, to the bit: a spot's perspective map with logarithmic depth, a point
// light's cube of six, a sun's orthographic map with linear depth, and a light without shadows;
// points all around and inside the lights, behind the near plane, on the maps' edges, far away
// and not finite, in blocks of one to eight lanes.
TEST(VectorisedLightSamples, AgreeWithTheItemFunctions) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.placeLightSamples)
    GTEST_SKIP() << "no vectorised light samples in this build or on this processor";
  VolumeConstants vol{};
  fourLights(ek::test::volumeSettings(96, 64, 0, 32, 12, 8), vol);
  ASSERT_EQ(vol.shadowMapCount, 8);

  std::vector<EKV3> points = scatteredPoints(21, 8.0f, 200.0f, 5);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const EKV3 &odd : {EKV3{nan, 0, 0}, EKV3{0, inf, 0}, EKV3{0, 0, -inf}, EKV3{1, 1, 0},
                          EKV3{0, 20, 20}, EKV3{1, 1, 1e-30f}, EKV3{3e38f, -3e38f, 3e38f},
                          EKV3{-0.0f, 0.0f, -0.0f}, EKV3{1, 1, 1}, EKV3{2, 1, 0}})
    points.insert(points.begin() + 3 * points.size() / 4, odd);
  // Points on the edges of every map's texels: px or py exactly 0 or the size after projection
  // is likely for a few of these grid points.
  for (int gx = -16; gx <= 16; ++gx)
    for (int gy = -16; gy <= 16; ++gy)
      points.push_back({gx * 0.5f, gy * 0.5f, 0.25f * float(gx + gy)});

  uint64_t hits = 0;
  for (size_t first = 0, block = 0; first < points.size(); ++block) {
    const uint32_t count = uint32_t(std::min<size_t>(1 + block % 8, points.size() - first));
    ek::LightLanes lanes;
    paths.placeLightSamples(vol, points.data() + first, count, lanes);
    for (int i = 0; i < vol.lightCount; ++i) {
      ASSERT_EQ(lanes.hits[i] >> count, 0u) << "no lane past the block lands";
      for (uint32_t lane = 0; lane < count; ++lane) {
        const EKV3 p = points[first + lane];
        int map = -1;
        ek::MapHit hit;
        const bool expected =
            ek::isFinitePoint(p) && ek::lightSampleHit(vol, vol.lights[i], p, map, hit);
        ASSERT_EQ(bool(lanes.hits[i] >> lane & 1u), expected)
            << "light " << i << " point " << first + lane;
        if (!expected)
          continue;
        ++hits;
        const ek::Slices s = ek::mapSlices(vol.maps[map], hit.lz);
        const float thickness = ek::lightSampleThickness(vol, hit);
        const ek::Slices vs = lanes.slices(i, lane);
        ASSERT_EQ(lanes.map[i][lane], map);
        ASSERT_EQ(std::memcmp(&lanes.px[i][lane], &hit.px, sizeof(float)), 0);
        ASSERT_EQ(std::memcmp(&lanes.py[i][lane], &hit.py, sizeof(float)), 0);
        ASSERT_EQ(vs.k0, s.k0);
        ASSERT_EQ(vs.k1, s.k1);
        ASSERT_EQ(std::memcmp(&vs.fraction, &s.fraction, sizeof(float)), 0);
        ASSERT_EQ(std::memcmp(&lanes.thickness[i][lane], &thickness, sizeof(float)), 0)
            << "light " << i << " point " << first + lane;
      }
    }
    first += count;
  }
  EXPECT_GT(hits, points.size()) << "most points land in the shadowing lights' maps";
}

// The vectorised placing of camera samples against cameraSampleOfCopy, to the bit, for a
// perspective camera without a lens: points in view, behind the camera and the near plane, on
// the image's edges, far away and not finite, in blocks of one to eight lanes.
TEST(VectorisedCameraSamples, AgreeWithTheItemFunction) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.placeCameraSamples)
    GTEST_SKIP() << "no vectorised camera samples in this build or on this processor";
  const EKCamera camera = ek::test::lookingAt({0, 5, 30}, {0, 0, 0}, 40);
  const EKRenderSettings settings = ek::test::volumeSettings(97, 61, 0, 32, 12, 8);
  VolumeConstants vol{};
  const ek::Frame frame = ek::buildFrame(camera, settings);
  ek::buildVolumeConstants(camera, settings, frame, nullptr, 0, {{-7, -7, -7}, {7, 7, 7}}, 0.02f,
                           vol);
  std::vector<EKV3> points = scatteredPoints(22, 9.0f, 300.0f, 4);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const EKV3 &odd : {EKV3{nan, 0, 0}, EKV3{0, -inf, 0}, EKV3{0, 5, 30}, EKV3{0, 5, 29.995f},
                          EKV3{0, 5, 29.985f}, EKV3{3e38f, 3e38f, -3e38f}, EKV3{0, 0, 0}})
    points.insert(points.begin() + points.size() / 3, odd);
  for (int gx = -40; gx <= 40; ++gx) // a grid over the image's edges
    for (int gy = -40; gy <= 40; ++gy)
      points.push_back({gx * 0.25f, 5.0f + gy * 0.25f, 0.0f});

  int placed = 0;
  for (size_t first = 0, block = 0; first < points.size(); ++block) {
    const uint32_t count = uint32_t(std::min<size_t>(8 - block % 8, points.size() - first));
    ek::CameraLanes lanes;
    paths.placeCameraSamples(frame, vol, points.data() + first, count, lanes);
    ASSERT_EQ(lanes.placed >> count, 0u) << "no lane past the block is placed";
    for (uint32_t lane = 0; lane < count; ++lane) {
      ek::CameraSample expected;
      const bool in = ek::cameraSampleOfCopy(frame, vol, points[first + lane], nullptr,
                                             ek::WorkItem{}, expected);
      ASSERT_EQ(bool(lanes.placed >> lane & 1u), in) << "point " << first + lane;
      if (!in)
        continue;
      ++placed;
      const ek::CameraSample s = lanes.sample(lane);
      ASSERT_EQ(s.pixel, expected.pixel) << "point " << first + lane;
      ASSERT_EQ(s.slices.k0, expected.slices.k0);
      ASSERT_EQ(s.slices.k1, expected.slices.k1);
      ASSERT_EQ(std::memcmp(&s.slices.fraction, &expected.slices.fraction, sizeof(float)), 0);
      ASSERT_EQ(std::memcmp(&s.coverage, &expected.coverage, sizeof(float)), 0);
    }
    first += count;
  }
  EXPECT_GT(placed, 5000) << "many points land in the image";
  EXPECT_LT(placed, int(points.size()) - 3000) << "many points miss it";
}

// The vectorised shading against shadeCameraSample, to the bit, from kept camera samples and
// kept lookups as the camera and light passes leave them, staged as the shading pass stages them:
// every falloff, a spot with a smooth and with a hard cone edge, a sun, isotropic and anisotropic
// scattering, samples culled, hidden behind thick columns, inside and outside the lights' maps, at
// a light and at the camera.
TEST(VectorisedShading, AgreesWithTheItemFunction) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.shadeSamples)
    GTEST_SKIP() << "no vectorised shading in this build or on this processor";
  const EKRenderSettings settings = ek::test::volumeSettings(64, 48, 0, 16, 12, 8);
  VolumeConstants vol{};
  const uint64_t mapFloats = fourLights(settings, vol);
  vol.ambient[0] = 0.1f;
  vol.emission = 0.05f;
  const uint64_t pixels = uint64_t(settings.width) * uint64_t(settings.height);

  std::mt19937 random(23);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f), space(-8.0f, 8.0f);
  // Prefixed columns: thickness that grows with depth, some columns far too thick to see through.
  auto prefixed = [&](uint64_t columns, int32_t depth) {
    std::vector<ek::MapCell> cells(columns * uint64_t(depth));
    for (uint64_t c = 0; c < columns; ++c) {
      const float scale = c % 13 == 0 ? 40.0f : 0.3f;
      float sum = 0.0f;
      for (int32_t k = 0; k < depth; ++k) {
        sum += unit(random) * scale;
        std::memcpy(&cells[c * uint64_t(depth) + uint64_t(k)], &sum, sizeof sum);
      }
    }
    return cells;
  };
  const std::vector<ek::MapCell> maps =
      prefixed(mapFloats / uint64_t(vol.maps[0].slices), vol.maps[0].slices);
  const std::vector<ek::MapCell> depth = prefixed(pixels, vol.camSlices);

  constexpr uint32_t kCopies = 4000;
  const uint64_t lightCount = uint64_t(vol.lightCount);
  std::vector<EKV3> positions(kCopies);
  std::vector<ek::KeptCameraSample> kept(kCopies);
  std::vector<ek::KeptLookup> lookups(kCopies * lightCount);
  std::vector<Rgba8> colors(kCopies);
  for (uint32_t c = 0; c < kCopies; ++c) {
    positions[c] = {space(random), space(random), space(random)};
    if (c % 97 == 0)
      positions[c] = {1, 1, 0}; // at the point light
    if (c % 101 == 0)
      positions[c] = {0, 5, 30}; // at the camera
    kept[c] = {uint32_t(random() % pixels), unit(random) * (c % 5 == 0 ? 0.0f : 1.0f),
               c % 7 == 0 ? 0.0f : unit(random) * 3.0f, uint16_t(random() % vol.camSlices),
               uint8_t(c % 11 != 0)};
    // The passes split the last slice with no fraction: nothing lies behind it.
    if (kept[c].k0 == vol.camSlices - 1)
      kept[c].fraction = 0.0f;
    colors[c] = Rgba8{uint8_t(random()), uint8_t(random()), uint8_t(random()), 255};
    for (int i = 0; i < vol.lightCount; ++i) {
      const ek::VolLight &light = vol.lights[i];
      ek::KeptLookup &k = lookups[c * lightCount + uint64_t(i)];
      k = {};
      if (light.mapCount < 1 || c % 3 == 0)
        continue; // outside every map
      const int map = light.firstMap + int(random() % uint32_t(light.mapCount));
      const float size = float(vol.maps[map].size);
      k = {unit(random) * size,
           unit(random) * size,
           c % 4 == 0 ? 0.0f : unit(random),
           uint16_t(random() % uint32_t(vol.maps[map].slices)),
           uint8_t(map),
           1};
      if (k.k0 == vol.maps[map].slices - 1)
        k.fraction = 0.0f;
    }
  }

  auto check = [&](const char *what) {
    SCOPED_TRACE(what);
    int shaded = 0;
    for (uint32_t first = 0, block = 0; first < kCopies; ++block) {
      const uint32_t count = std::min<uint32_t>(1 + block % 8, kCopies - first);
      uint32_t placed = 0;
      for (uint32_t lane = 0; lane < count; ++lane)
        placed |= uint32_t(kept[first + lane].placed != 0) << lane;
      ek::ShadowTapLanes taps;
      ek::stageShadowTaps(vol, lookups.data() + first * lightCount, placed, maps.data(), taps);
      ek::ShadeInputs in{positions.data() + first, kept.data() + first, &taps, {}, depth.data()};
      for (uint32_t lane = 0; lane < count; ++lane)
        in.color[lane] = colors[first + lane];
      ek::ShadedLanes lanes;
      paths.shadeSamples(vol, in, count, lanes);
      ASSERT_EQ(lanes.shaded >> count, 0u);
      for (uint32_t lane = 0; lane < count; ++lane) {
        const uint32_t c = first + lane;
        bool expected = false;
        ek::SplatSample s{};
        if (kept[c].placed) {
          ek::ShadowLookup l[kMaxVolumeLights];
          for (int i = 0; i < vol.lightCount; ++i)
            l[i] = ek::lookupOf(lookups[c * lightCount + uint64_t(i)], vol);
          const ek::CameraSample sample = ek::cameraSampleOf(kept[c], vol, {}, positions[c]);
          expected = ek::shadeCameraSample(vol, sample, colors[c], l, maps.data(), depth.data(), s);
        }
        ASSERT_EQ(bool(lanes.shaded >> lane & 1u), expected) << "copy " << c;
        if (!expected)
          continue;
        ++shaded;
        const ek::SplatSample v = lanes.sample(lane);
        ASSERT_EQ(v.pixel, s.pixel);
        ASSERT_EQ(std::memcmp(&v.value, &s.value, sizeof v.value), 0) << "copy " << c;
      }
      first += count;
    }
    EXPECT_GT(shaded, int(kCopies / 2));
    EXPECT_LT(shaded, int(kCopies - 300)) << "some samples are culled or hidden";
  };
  for (int32_t falloff = 0; falloff <= EK_FALLOFF_STEP + 1; ++falloff) {
    for (int i : {0, 1, 3}) {
      vol.lights[i].falloff = falloff;
      vol.lights[i].falloffRadius = falloff == EK_FALLOFF_STEP + 1 ? 0.0f : 9.0f + float(i);
      vol.lights[i].falloffInner = 3.0f;
    }
    check("falloff");
  }
  vol.lights[0].cosOuter = 0.93f; // a cone edge across the cloud
  vol.lights[0].cosInner = 0.97f;
  for (float g : {0.0f, 0.4f, -0.3f}) {
    vol.anisotropy = g;
    check("smooth cone edge");
  }
  vol.lights[0].cosInner = vol.lights[0].cosOuter;
  check("hard cone edge");
}

// The shading's exponential against expf, over every 97th float bit pattern (every exponent, both
// signs, the infinities and not-a-numbers) and around the two values where a remainder worked out
// without a fused step is one float off; and the check that decides whether the device shades in
// lanes passes with this process's expf and fails for one a float off now and then.
decltype(ek::VectorPaths::exponential) checkedExponential = nullptr;

void exponentialOneOff(const float *values, float *results, uint64_t count) {
  checkedExponential(values, results, count);
  for (uint64_t i = 0; i < count; ++i)
    if (i % 53 == 11)
      results[i] = std::nextafter(results[i], 0.0f);
}

TEST(VectorisedShading, ExponentialIsTheCLibrarys) {
  const ek::VectorPaths paths = vectorPaths();
  if (!paths.exponential)
    GTEST_SKIP() << "no vectorised shading in this build or on this processor";
  constexpr uint64_t kChunk = 1u << 16;
  std::vector<float> values, results(kChunk);
  uint64_t mismatches = 0;
  auto check = [&] {
    values.resize(kChunk, 0.0f);
    paths.exponential(values.data(), results.data(), kChunk);
    for (uint64_t i = 0; i < kChunk; ++i) {
      const float expected = expf(values[i]);
      if (std::memcmp(&results[i], &expected, sizeof(float)) != 0 && mismatches++ < 3)
        ADD_FAILURE() << std::hexfloat << "e^" << values[i] << ": " << results[i] << ", not "
                      << expected;
    }
    values.clear();
  };
  for (uint64_t bits = 0; bits <= UINT32_MAX; bits += 97) {
    const uint32_t pattern = uint32_t(bits);
    float value;
    std::memcpy(&value, &pattern, sizeof value);
    values.push_back(value);
    if (values.size() == kChunk)
      check();
  }
  for (float edge : {-0x1.f8cbb2p+5f, 0x1.04845ep+5f, 88.0f, -88.0f, 0.0f, -0.0f})
    for (int step = -200; step <= 200; ++step)
      values.push_back(edge + float(step) * std::fabs(edge) * 0x1p-23f);
  check();
  EXPECT_EQ(mismatches, 0u);

  EXPECT_TRUE(ek::exponentialMatchesCLibrary(paths.exponential));
  EXPECT_NE(paths.shadeSamples, nullptr);
  checkedExponential = paths.exponential;
  EXPECT_FALSE(ek::exponentialMatchesCLibrary(exponentialOneOff));
}
