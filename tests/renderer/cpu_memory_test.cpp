// The CPU device's memory: zeroed allocations whose dirty tiles are tracked, so that clears, the
// prefix pass and the resolve skip what is known to be zero. Skipping too much would leave an
// earlier frame's data in a later one, so the renders here reuse a context and compare with a
// fresh one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "context.h"
#include "cpu/cpu_device.h"
#include "cpu/page_array.h"
#include "particle_ball.h"
#include "scene_records.h"

namespace {

using namespace ek;

constexpr uint64_t kTile = DirtyTiles::kTileBytes;

std::unique_ptr<CpuDevice> cpuDevice(unsigned workers = 2) {
  return std::make_unique<CpuDevice>(workers, vectorPathsFor(detectCpuFeatures()));
}

TEST(CpuMemory, AllocationsArePageAlignedZerosAndKnowTheirTiles) {
  auto device = cpuDevice();
  void *pointer = nullptr;
  const uint64_t bytes = 3 * kTile + 100;
  ASSERT_EQ(device->allocate(&pointer, bytes), kDeviceOk);
  const auto *bytesIn = static_cast<const unsigned char *>(pointer);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pointer) % kTile, 0u);
  for (uint64_t i = 0; i < bytes; ++i)
    ASSERT_EQ(bytesIn[i], 0) << i;

  const DirtyTiles inside = device->memoryTiles(bytesIn + bytes - 1);
  EXPECT_TRUE(inside.tracked());
  EXPECT_EQ(inside.tileCount(), 4u);
  EXPECT_FALSE(inside.anyDirty(pointer, bytes));
  EXPECT_FALSE(device->memoryTiles(bytesIn + bytes).tracked());
  int onTheStack = 0;
  EXPECT_FALSE(device->memoryTiles(&onTheStack).tracked());
  device->release(pointer);
  EXPECT_FALSE(device->memoryTiles(pointer).tracked());
}

// The working arrays of the CPU passes keep their values while their size stays, and come back
// zeroed at any other size; a size whose bytes do not fit is refused, not wrapped around.
TEST(CpuMemory, PageArraysKeepTheirValuesWhileTheirSizeStays) {
  PageArray<uint32_t> array;
  array.resize(3u << 20);
  ASSERT_EQ(array.size(), 3u << 20);
  for (uint32_t i = 0; i < array.size(); i += 1000)
    array[i] = i + 1;
  array.resize(3u << 20);
  EXPECT_EQ(array[5000], 5001u);
  array.resize(1000);
  EXPECT_EQ(std::count(array.begin(), array.end(), 0u), 1000);
  array.resize(0);
  EXPECT_EQ(array.begin(), array.end());
  PageArray<EKV3> huge;
  EXPECT_THROW(huge.resize(UINT64_MAX / 4), std::bad_alloc);
  EXPECT_EQ(huge.size(), 0u);
}

// Arrays that their users overwrite whole keep their pages while the count moves a little either
// way, as a particle count does from frame to frame, and still come back zeroed from a plain
// resize to another size afterwards.
TEST(CpuMemory, OverwrittenPageArraysKeepTheirPagesWhileTheCountMovesALittle) {
  PageArray<uint32_t> array;
  array.resizeForOverwrite(100000);
  ASSERT_EQ(array.size(), 100000u);
  std::fill(array.begin(), array.end(), 7u);
  const uint32_t *pages = array.data();
  for (uint64_t count : {100000u, 104000u, 96000u, 100000u}) {
    array.resizeForOverwrite(count);
    ASSERT_EQ(array.size(), count);
    EXPECT_EQ(array.data(), pages) << count;
    std::fill(array.begin(), array.end(), 7u); // a user writes every value it reads
  }
  PageArray<uint32_t> other;
  other.resizeForOverwrite(50);
  array.swap(other); // the room goes with the pages
  other.resizeForOverwrite(101000);
  EXPECT_EQ(other.data(), pages);
  EXPECT_EQ(array.size(), 50u);
  other.resize(2000);
  EXPECT_EQ(std::count(other.begin(), other.end(), 0u), 2000);
  other.resizeForOverwrite(0);
  EXPECT_EQ(other.begin(), other.end());
  PageArray<EKV3> huge;
  EXPECT_THROW(huge.resizeForOverwrite(UINT64_MAX / 4), std::bad_alloc);
  EXPECT_EQ(huge.size(), 0u);
}

// Copies and fills flag what they write; a clear writes the dirty tiles, and one that covers a
// tile only in part keeps that tile's flag and the data outside the range.
TEST(CpuMemory, ClearsKeepWhatTheirRangeLeavesOut) {
  auto device = cpuDevice();
  void *pointer = nullptr;
  const uint64_t bytes = 6 * kTile;
  ASSERT_EQ(device->allocate(&pointer, bytes), kDeviceOk);
  auto *memory = static_cast<unsigned char *>(pointer);
  const std::vector<unsigned char> pattern(2 * kTile, 7);
  ASSERT_EQ(device->copyToDevice(memory + kTile / 2, pattern.data(), pattern.size()), kDeviceOk);
  ASSERT_EQ(device->fill(memory + 4 * kTile, 9, 10), kDeviceOk);
  const DirtyTiles tiles = device->memoryTiles(memory);
  for (uint64_t t = 0; t < 6; ++t)
    EXPECT_EQ(tiles.anyDirty(memory + t * kTile, kTile), t <= 2 || t == 4) << t;

  // Tiles 1 and 2 whole, half of tile 0 and a byte of tile 3.
  ASSERT_EQ(device->fill(memory + kTile / 2, 0, 2 * kTile + kTile / 2 + 1), kDeviceOk);
  for (uint64_t i = 0; i < 3 * kTile; ++i)
    ASSERT_EQ(memory[i], 0) << i;
  EXPECT_EQ(memory[4 * kTile + 9], 9);
  EXPECT_TRUE(tiles.anyDirty(memory, kTile)); // partly covered: it may still hold data
  EXPECT_FALSE(tiles.anyDirty(memory + kTile, 2 * kTile));

  ASSERT_EQ(device->fill(memory, 0, bytes), kDeviceOk);
  EXPECT_EQ(memory[4 * kTile + 9], 0);
  EXPECT_FALSE(tiles.anyDirty(memory, bytes));
  device->release(pointer);
}

// A CPU context with `workers` workers and a ball of `count` particles.
EKContext *cpuContext(int count, unsigned workers = 3) {
  EKContext *c = ekCreate(EK_DEVICE_CPU);
  c->backend = cpuDevice(workers);
  test::uploadBall(c, count);
  return c;
}

EKCamera cameraAt(float x, float z, float fov) {
  return test::lookingAt({x, 2, z}, {0, 0, 0}, fov);
}

EKRenderSettings settings(int32_t mode) {
  EKRenderSettings s = test::volumeSettings(200, 150, 2, 96, 24, 16);
  s.brightness = 5;
  s.mode = mode;
  return s;
}

// A spot and a point light, both casting shadows.
std::vector<EKLight> lights() {
  EKLight spot{};
  spot.type = EK_LIGHT_SPOT;
  spot.position = {0, 12, 0};
  spot.direction = {0, -1, 0};
  spot.outerAngle = 50;
  spot.innerAngle = 40;
  spot.castsShadows = 1;
  spot.color[0] = spot.color[1] = spot.color[2] = 2;
  EKLight point = spot;
  point.type = EK_LIGHT_POINT;
  point.position = {8, 0, 3};
  return {spot, point};
}

struct Images {
  std::vector<uint8_t> bytes;
  std::vector<float> floats;
};

Images render(EKContext *c, const EKCamera &camera, const EKRenderSettings &s) {
  Images out{std::vector<uint8_t>(size_t(s.width) * s.height * 4, 1),
             std::vector<float>(size_t(s.width) * s.height * 4, -1)};
  const std::vector<EKLight> l = lights();
  EXPECT_EQ(ekRender(c, &camera, &s, l.data(), int(l.size()), out.bytes.data(), out.floats.data(),
                     nullptr),
            0)
      << ekLastError(c);
  return out;
}

// A dense view, then a sparse one (fewer particles, most of them out of view) at the same size:
// the second must not keep anything of the first in any buffer (accumulator, private images,
// camera depth, shadow maps, depth totals), and the first must come back as it was. The
// volumetric maps are summed with atomics, in an order that only one worker makes the same on
// every run.
TEST(CpuMemoryRender, ASparseFrameAfterADenseOneIsAFreshFrame) {
  for (int32_t mode : {EK_MODE_ADDITIVE, EK_MODE_VOLUMETRIC}) {
    SCOPED_TRACE(mode);
    const unsigned workers = mode == EK_MODE_VOLUMETRIC ? 1 : 3;
    const EKCamera dense = cameraAt(0, 20, 40), sparse = cameraAt(14, 6, 25);
    EKContext *used = cpuContext(20000, workers);
    const Images denseFirst = render(used, dense, settings(mode));
    ASSERT_EQ(ekSetCount(used, 300), 0);
    render(used, sparse, settings(mode));
    const Images sparseAfter = render(used, sparse, settings(mode));
    ASSERT_EQ(ekSetCount(used, 20000), 0);
    const Images denseAgain = render(used, dense, settings(mode));
    EKContext *fresh = cpuContext(20000, workers);
    ASSERT_EQ(ekSetCount(fresh, 300), 0);
    const Images sparseAlone = render(fresh, sparse, settings(mode));
    EXPECT_EQ(sparseAfter.floats, sparseAlone.floats);
    EXPECT_EQ(sparseAfter.bytes, sparseAlone.bytes);
    EXPECT_EQ(denseAgain.floats, denseFirst.floats);
    ekDestroy(used);
    ekDestroy(fresh);
  }
}

// A few particles: most of the image is written as background without being read, the rest of
// their tiles goes through the resolve proper. Both must give the very same empty pixel.
TEST(CpuMemoryRender, UntouchedPixelsAllResolveAlike) {
  for (int32_t mode : {EK_MODE_ADDITIVE, EK_MODE_VOLUMETRIC}) {
    SCOPED_TRACE(mode);
    EKContext *c = cpuContext(3, 2);
    EKRenderSettings s = settings(mode);
    s.exposure = 0.3f; // a background that is not plain zero in every channel
    const Images image = render(c, cameraAt(0, 20, 40), s);
    std::map<std::vector<float>, int> counts;
    for (size_t i = 0; i < image.floats.size(); i += 4)
      ++counts[{image.floats.begin() + i, image.floats.begin() + i + 4}];
    int most = 0;
    for (const auto &entry : counts)
      most = std::max(most, entry.second);
    EXPECT_GE(most, s.width * s.height - 3); // one pixel per sample at most differs
    EXPECT_LE(counts.size(), 4u);
    ekDestroy(c);
  }
}

} // namespace
