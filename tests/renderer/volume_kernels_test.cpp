#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

#include "kernels/volume.h"

namespace {

using namespace ek;

// A 16 x 16 orthographic map with 4 linear slices over depth 0..4, texels of unit area.
ek::ShadowMap orthographicMap() {
  ek::ShadowMap m{};
  m.view[0] = m.view[5] = m.view[10] = 1;
  m.ortho = 1;
  m.scaleX = m.scaleY = 1.0f / 8.0f;
  m.size = 16;
  m.slices = 4;
  m.depthScale = 1;
  m.texelArea = 1;
  return m;
}

// The thickness deposited in a texel's column.
float columnSum(const std::vector<MapCell> &maps, const ek::ShadowMap &m, int x, int y) {
  const MapCell *c = texelColumn(maps.data(), m, x, y);
  return float(std::accumulate(c, c + m.slices, uint64_t(0))) / kCellScale;
}

// Columns of `slices` cells, each `thickness` thick, prefixed.
std::vector<MapCell> prefixedMaps(uint64_t columns, int slices, float thickness) {
  std::vector<MapCell> maps(columns * uint64_t(slices), toCell(thickness));
  for (uint64_t c = 0; c < columns; ++c)
    prefixColumn(maps.data() + c * uint64_t(slices), slices, nullptr);
  return maps;
}

TEST(VolumeKernels, CubeFacesAndTheirTies) {
  EXPECT_EQ(cubeFace(1, 1, 0), 0) << "the diagonal between +x and +y goes to +x";
  EXPECT_EQ(cubeFace(-2, 1, 1), 1);
  EXPECT_EQ(cubeFace(0, 1, 1), 2);
  EXPECT_EQ(cubeFace(0, -3, 1), 3);
  EXPECT_EQ(cubeFace(0, 0, 1), 4);
  EXPECT_EQ(cubeFace(0.5f, 0, -1), 5);
}

TEST(VolumeKernels, SmallCoverageSplitsBetweenTwoSlices) {
  const ek::ShadowMap m = orthographicMap();
  std::vector<MapCell> maps(16 * 16 * 4, 0);
  MapHit hit;
  ASSERT_TRUE(projectToMap(m, {0.5f, 0.5f, 1.25f}, hit));
  EXPECT_EQ(int(hit.px), 8);
  EXPECT_EQ(int(hit.py), 7) << "+y is up in the map too";
  depositInMap(m, hit, 0.25f, maps.data());
  const MapCell *column = texelColumn(maps.data(), m, 8, 7);
  EXPECT_EQ(column[0], toCell(0.25f * 0.25f)) << "slice position 0.75: a quarter in slice 0";
  EXPECT_EQ(column[1], toCell(0.25f * 0.75f));
  ASSERT_TRUE(projectToMap(m, {0.5f, 0.5f, 9.0f}, hit));
  depositInMap(m, hit, 0.25f, maps.data());
  EXPECT_EQ(column[3], toCell(0.25f)) << "past the last slice everything stays in it";
}

TEST(VolumeKernels, LargeCoverageSpreadsOverASquare) {
  const ek::ShadowMap m = orthographicMap();
  std::vector<MapCell> maps(16 * 16 * 4, 0);
  MapHit hit;
  ASSERT_TRUE(projectToMap(m, {0.5f, 0.5f, 0.5f}, hit));
  depositInMap(m, hit, 9.0f, maps.data());
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const bool inside = x >= 7 && x <= 9 && y >= 6 && y <= 8;
      EXPECT_FLOAT_EQ(columnSum(maps, m, x, y), inside ? 1.0f : 0.0f) << x << "," << y;
    }
  std::fill(maps.begin(), maps.end(), 0);
  depositInMap(m, hit, 300.0f, maps.data());
  float total = 0;
  int touched = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      const float sum = columnSum(maps, m, x, y);
      total += sum;
      if (sum > 0) {
        ++touched;
        EXPECT_NEAR(sum, 300.0f / 225.0f, 2.0f / kCellScale);
      }
    }
  EXPECT_EQ(touched, 225) << "capped at 15 x 15";
  EXPECT_NEAR(total, 300.0f, 1e-3f);
  std::fill(maps.begin(), maps.end(), 0);
  ASSERT_TRUE(projectToMap(m, {-7.9f, 7.9f, 0.5f}, hit));
  depositInMap(m, hit, 9.0f, maps.data());
  EXPECT_FLOAT_EQ(columnSum(maps, m, 0, 0), 1.0f) << "the part outside the map is dropped";
  EXPECT_FLOAT_EQ(columnSum(maps, m, 1, 1), 1.0f);
  depositInMap(m, hit, std::nanf(""), maps.data());
  EXPECT_FLOAT_EQ(columnSum(maps, m, 0, 0), 1.0f) << "not-a-number coverage adds nothing";
}

TEST(VolumeKernels, PerspectiveMapsCullAtTheNearPlane) {
  ek::ShadowMap m = orthographicMap();
  m.ortho = 0;
  m.scaleX = m.scaleY = 1;
  m.nearClip = 0.5f;
  m.logDepth = 1;
  m.depthStart = 2;
  MapHit hit;
  EXPECT_FALSE(projectToMap(m, {0, 0, 0.5f}, hit));
  EXPECT_FALSE(projectToMap(m, {0, 0, -3}, hit)) << "behind the light";
  ASSERT_TRUE(projectToMap(m, {0, 0, 1}, hit));
  EXPECT_EQ(mapSlices(m, hit.lz).k0, 0) << "in front of depthStart: slice 0";
  EXPECT_FLOAT_EQ(hit.area, m.texelArea);
}

TEST(VolumeKernels, PrefixTurnsColumnsIntoThickness) {
  const MapCell one = toCell(1.0f);
  MapCell column[4] = {one, one, one, 7};
  float total = -1;
  prefixColumn(column, 3, &total);
  const float *thickness = prefixedColumn(column);
  EXPECT_EQ(thickness[0], 0.5f);
  EXPECT_EQ(thickness[1], 1.5f);
  EXPECT_EQ(thickness[2], 2.5f);
  EXPECT_EQ(total, 3.0f);
  EXPECT_EQ(column[3], 7u) << "cells past the column stay as they are";
  prefixColumn(column, 0, &total);
  EXPECT_EQ(total, 0.0f);
  // Full cells hold the limit; a float's sum of several of them passes a cell's range.
  MapCell full[3] = {kFullCell, kFullCell, 1};
  prefixColumn(full, 3, &total);
  EXPECT_EQ(prefixedColumn(full)[1], 1.5f * kCellLimit);
  EXPECT_EQ(total, 2.0f * kCellLimit);
}

// A shadow lookup blends the four texels around its point by their distance, so a thickness that
// grows linearly over the map comes back exactly where the point lies; past the centres of the
// outermost texels it takes the edge's texels, and it reads only its own map's columns (here the
// second of two maps, the first filled with a value no lookup may see).
TEST(VolumeKernels, ShadowLookupsBlendFourTexelsAndStayInTheirMap) {
  ek::ShadowMap m = orthographicMap();
  const uint64_t cells = uint64_t(m.size) * uint64_t(m.size) * uint64_t(m.slices);
  m.offset = cells;
  std::vector<MapCell> maps(2 * cells);
  auto setFloat = [&](uint64_t i, float v) { std::memcpy(&maps[i], &v, sizeof v); };
  for (uint64_t i = 0; i < cells; ++i)
    setFloat(i, 1e30f);
  for (int y = 0; y < m.size; ++y)
    for (int x = 0; x < m.size; ++x)
      for (int k = 0; k < m.slices; ++k)
        setFloat(uint64_t(texelColumn(maps.data(), m, x, y) - maps.data()) + uint64_t(k),
                 10.0f * float(x) + float(y) + 100.0f * float(k));
  // Texel x's centre lies at x + 0.5, so the point (px, py) sees 10 (px - 0.5) + (py - 0.5).
  auto thickness = [&](float px, float py, const Slices &s) {
    return shadowThickness(m, MapHit{px, py, 0.0f, 0.0f}, s, maps.data());
  };
  const Slices front{0, 1, 0.0f};
  EXPECT_FLOAT_EQ(thickness(1.75f, 2.25f, front), 12.5f + 1.75f);
  EXPECT_FLOAT_EQ(thickness(7.5f, 9.5f, front), 70.0f + 9.0f) << "on a texel's centre";
  EXPECT_FLOAT_EQ(thickness(1.75f, 2.25f, {0, 1, 0.25f}), 12.5f + 1.75f + 25.0f)
      << "a quarter of the way to the next slice";
  EXPECT_FLOAT_EQ(thickness(3.5f, 4.5f, {2, 3, 0.5f}), 30.0f + 4.0f + 250.0f);
  // Edges and corners: the outermost texels' values, whatever the weights.
  EXPECT_FLOAT_EQ(thickness(0.2f, 2.5f, front), 0.0f + 2.0f);
  EXPECT_FLOAT_EQ(thickness(15.9f, 2.5f, front), 150.0f + 2.0f);
  EXPECT_FLOAT_EQ(thickness(4.5f, 0.0f, front), 40.0f + 0.0f);
  EXPECT_FLOAT_EQ(thickness(4.5f, 15.99f, front), 40.0f + 15.0f);
  EXPECT_FLOAT_EQ(thickness(0.0f, 0.0f, front), 0.0f);
  EXPECT_FLOAT_EQ(thickness(15.99f, 15.99f, {3, 3, 0.0f}), 150.0f + 15.0f + 300.0f);
  // The taps of corner points lie within the map's own columns.
  for (float px : {0.0f, 0.49f, 15.5f, 15.99f})
    for (float py : {0.0f, 0.51f, 15.49f, 15.99f}) {
      const TexelTaps taps = texelTaps(m, MapHit{px, py, 0.0f, 0.0f}, maps.data());
      for (const MapCell *column : taps.column) {
        EXPECT_GE(column, maps.data() + m.offset) << px << " " << py;
        EXPECT_LE(column + m.slices, maps.data() + maps.size()) << px << " " << py;
      }
    }
}

TEST(VolumeKernels, LoneSampleSeesHalfItsOwnDeposit) {
  // Whatever the fraction between two slices, the thickness at the sample is w / 2.
  for (float fraction : {0.0f, 0.3f, 0.75f}) {
    MapCell column[8] = {};
    const Slices s = splitSlices(2.0f + fraction, 8);
    const float w = 0.6f;
    column[s.k0] += toCell(w * (1 - s.fraction));
    column[s.k1] += toCell(w * s.fraction);
    prefixColumn(column, 8, nullptr);
    EXPECT_NEAR(columnThickness(prefixedColumn(column), s), w / 2, 1.0f / kCellScale) << fraction;
  }
}

// Deposits are rounded to the nearest cell; nothing that is not a positive number adds anything.
// A cell saturates at its largest value instead of wrapping round to a thin one, and a saturating
// sum is the same in every order.
TEST(VolumeKernels, CellsRoundAndSaturate) {
  EXPECT_EQ(toCell(2.4f / kCellScale), 2u);
  EXPECT_EQ(toCell(2.6f / kCellScale), 3u);
  EXPECT_EQ(toCell(std::nanf("")), 0u);
  EXPECT_EQ(toCell(-1.0f), 0u);
  EXPECT_EQ(toCell(INFINITY), kFullCell);
  EXPECT_EQ(toCell(kCellLimit), kFullCell);
  EXPECT_EQ(toCell(kCellLimit * 0.5f), uint32_t(1) << 30);
  const MapCell deposits[4] = {toCell(300.0f), toCell(0.25f), toCell(250.0f), toCell(3.0f)};
  MapCell forward = 0, backward = 0;
  for (int i = 0; i < 4; ++i) {
    atomicSaturatingAdd(&forward, deposits[i], kFullCell);
    atomicSaturatingAdd(&backward, deposits[3 - i], kFullCell);
  }
  EXPECT_EQ(forward, kFullCell);
  EXPECT_EQ(backward, kFullCell);
  MapCell cell = kFullCell - 5;
  atomicSaturatingAdd(&cell, 3, kFullCell);
  EXPECT_EQ(cell, kFullCell - 2);
  atomicSaturatingAdd(&cell, kFullCell, kFullCell);
  EXPECT_EQ(cell, kFullCell) << "no wrap past 32 bits either";
}

// A deposit made `times` times at once leaves a cell as that many single deposits would, up to
// saturation, and a product past 32 bits saturates instead of wrapping.
TEST(VolumeKernels, RepeatedDepositsAddUpAsSingleOnes) {
  NothingNoted noted;
  for (float value : {0.3f, 1e-6f, 200.0f, kCellLimit}) {
    for (uint32_t times : {1u, 3u, 4u, 7u}) {
      for (MapCell start : {MapCell(0), MapCell(12345), kFullCell - 100}) {
        MapCell once = start, oneByOne = start;
        addNoted(&once, value, noted, times);
        for (uint32_t t = 0; t < times; ++t)
          addNoted(&oneByOne, value, noted);
        EXPECT_EQ(once, oneByOne) << value << " x " << times << " onto " << start;
      }
    }
  }
  MapCell cell = 1;
  addNoted(&cell, kCellLimit, noted, 5); // 5 x kFullCell does not fit 32 bits
  EXPECT_EQ(cell, kFullCell);
  addNoted(&cell, 1.0f, noted, 0);
  EXPECT_EQ(cell, kFullCell);
  cell = 7;
  addNoted(&cell, 1.0f, noted, 0);
  EXPECT_EQ(cell, 7u) << "no deposit at all";
}

TEST(VolumeKernels, FalloffConeAndPhase) {
  EXPECT_FLOAT_EQ(distanceFactor(0, 10, 0, 50), 1.0f);
  EXPECT_FLOAT_EQ(distanceFactor(1, 10, 0, 20), 0.25f);
  EXPECT_FLOAT_EQ(distanceFactor(1, 10, 0, 5), 4.0f);
  EXPECT_FLOAT_EQ(distanceFactor(2, 10, 0, 5), 1.0f);
  EXPECT_FLOAT_EQ(distanceFactor(3, 10, 0, 20), 0.5f);
  EXPECT_FLOAT_EQ(distanceFactor(4, 10, 0, 5), 1.0f);
  EXPECT_FLOAT_EQ(distanceFactor(1, 0, 0, 20), 1.0f) << "no radius, no falloff";
  EXPECT_FLOAT_EQ(distanceFactor(5, 10, 4, 3), 1.0f);
  EXPECT_FLOAT_EQ(distanceFactor(5, 10, 4, 7), 0.5f);
  EXPECT_FLOAT_EQ(distanceFactor(5, 10, 4, 10), 0.0f);
  EXPECT_FLOAT_EQ(distanceFactor(5, 10, 10, 9.9f), 1.0f) << "inner = radius: a hard edge";
  EXPECT_FLOAT_EQ(distanceFactor(5, 10, 10, 10.1f), 0.0f);
  EXPECT_FLOAT_EQ(distanceFactor(6, 10, 0, 10), 1.0f);
  EXPECT_FLOAT_EQ(distanceFactor(6, 10, 0, 10.5f), 0.0f);

  ek::VolLight spot{};
  spot.cosInner = 0.9f;
  spot.cosOuter = 0.8f;
  EXPECT_FLOAT_EQ(coneFactor(spot, 0.95f), 1.0f);
  EXPECT_NEAR(coneFactor(spot, 0.85f), 0.5f, 1e-5f) << "half way the smooth step is 1/2";
  EXPECT_FLOAT_EQ(coneFactor(spot, 0.7f), 0.0f);
  spot.cosInner = spot.cosOuter;
  EXPECT_EQ(coneFactor(spot, 0.8f), 1.0f) << "hard edge";
  EXPECT_EQ(coneFactor(spot, 0.79f), 0.0f);

  EXPECT_FLOAT_EQ(phaseFactor(0.5f, -1.0f), 6.0f);
  EXPECT_EQ(phaseFactor(0.0f, 0.3f), 1.0f);
  EXPECT_LT(phaseFactor(0.5f, 1.0f), 1.0f);
}

TEST(VolumeKernels, LightsArriveUnshadowedOutsideTheirMaps) {
  VolumeConstants vol{};
  vol.maps[0] = orthographicMap();
  ek::VolLight &sun = vol.lights[0];
  sun.type = 2;
  sun.direction[2] = -1;
  sun.mapCount = 1;
  vol.lightCount = 1;
  const std::vector<MapCell> maps = prefixedMaps(16 * 16, 4, 10.0f); // thick everywhere
  const float view[3] = {0, 0, 1};
  EXPECT_FLOAT_EQ(lightArriving(vol, sun, {100, 0, 1}, view, maps.data()), 1.0f);
  EXPECT_LT(lightArriving(vol, sun, {0, 0, 1}, view, maps.data()), 0.01f);
  ek::VolLight point{};
  point.position[0] = 3;
  EXPECT_EQ(lightArriving(vol, point, {3, 0, 0}, view, maps.data()), 0.0f)
      << "a light at the sample's own position";
}

TEST(VolumeKernels, BoundsReduceNegativeCoordinates) {
  BoundsPartial b = neutralBounds();
  const EKV3 velocity{3, 4, 0};
  addToBounds(b, {-5, -2, -9}, &velocity);
  addToBounds(b, {-1, -7, -3}, nullptr);
  EXPECT_EQ(b.minimum[0], -5.0f);
  EXPECT_EQ(b.maximum[0], -1.0f);
  EXPECT_EQ(b.minimum[1], -7.0f);
  EXPECT_EQ(b.maximum[2], -3.0f);
  EXPECT_EQ(b.speedSquared, 25.0f);
  EXPECT_EQ(b.sum[2], -12.0);
  EXPECT_EQ(b.sumSquares[1], 53.0);
}

TEST(VolumeKernels, VolumetricResolveKeepsAlphaApartFromColour) {
  const Rgba32f accumulator[2] = {{0, 0, 0, 0}, {3, 3, 3, 0}};
  const float totals[2] = {0, 0.1f};
  Rgba8 image[2];
  Rgba32f floats[2];
  for (int i = 0; i < 2; ++i)
    resolveVolPixel(accumulator, totals, image, floats, i, 1.0f);
  EXPECT_EQ(floats[0].a, 0.0f);
  EXPECT_EQ(image[0].a, 255);
  EXPECT_EQ(image[0].r, 0);
  EXPECT_FLOAT_EQ(floats[1].a, 1.0f - std::exp(-0.1f));
  EXPECT_GT(floats[1].r, floats[1].a) << "more colour than alpha is allowed";
}

} // namespace
