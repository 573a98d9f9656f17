#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include <unistd.h>

#include <openvdb/openvdb.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/points/PointDataGrid.h>

#include "particle_file.h"
#include "synthetic_cache.h"

namespace {

using openvdb::Vec3f;
namespace points = openvdb::points;

// A point grid over `positions` (positions compressed to fixed point within their voxel), with a
// colour attribute stored as half floats when `colors` is not empty, and ages the reader ignores.
points::PointDataGrid::Ptr pointGrid(const std::string &name, const std::vector<Vec3f> &positions,
                                     const std::vector<Vec3f> &colors, double voxelSize) {
  const points::PointAttributeVector<Vec3f> wrapper(positions);
  const auto transform = openvdb::math::Transform::createLinearTransform(voxelSize);
  const auto index =
      openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(wrapper, *transform);
  auto grid = points::createPointDataGrid<points::FixedPointCodec<false>, points::PointDataGrid>(
      *index, wrapper, *transform);
  grid->setName(name);
  if (!colors.empty()) {
    points::appendAttribute<Vec3f, points::TruncateCodec>(grid->tree(), "Cd");
    points::populateAttribute(grid->tree(), index->tree(), "Cd",
                              points::PointAttributeVector<Vec3f>(colors));
  }
  points::appendAttribute<float>(grid->tree(), "age");
  return grid;
}

// A file in the temporary folder whose name carries the process's number, so that test runs of
// several builds at once do not meet; it is removed when the process ends.
std::string tempPath(const std::string &name) {
  struct Files {
    std::vector<std::string> paths;
    ~Files() {
      for (const std::string &path : paths)
        std::remove(path.c_str());
    }
  };
  static Files files;
  files.paths.push_back(testing::TempDir() + "vdb_" + std::to_string(getpid()) + "_" + name);
  return files.paths.back();
}

std::string writeVdb(const std::string &name, const openvdb::GridPtrVec &grids) {
  const std::string path = tempPath(name);
  openvdb::io::File(path).write(grids);
  return path;
}

std::vector<EKV3> sorted(std::vector<EKV3> p) {
  std::sort(p.begin(), p.end(), [](const EKV3 &a, const EKV3 &b) { return a.x < b.x; });
  return p;
}

TEST(VdbPoints, EveryGridInWorldSpaceWithHalfColours) {
  openvdb::initialize();
  const std::vector<Vec3f> a = {{1.25f, 2, 3}, {-4, 5.5f, 6}}, b = {{10, 0, 0}};
  const std::vector<Vec3f> colors = {{1, 0.5f, 0}, {0, 0, 1}};
  auto empty = pointGrid("empty", {}, {}, 0.5);
  const std::string path = writeVdb(
      "two_grids.vdb", {pointGrid("smoke", a, colors, 0.5), empty, pointGrid("sparks", b, {}, 2)});
  ekrender::ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::readParticleFile(path, data, error)) << error;
  ASSERT_EQ(data.positions.size(), 3u);
  const std::vector<EKV3> p = sorted(data.positions);
  EXPECT_NEAR(p[0].x, -4.0f, 1e-3f);
  EXPECT_NEAR(p[1].x, 1.25f, 1e-3f);
  EXPECT_NEAR(p[1].y, 2.0f, 1e-3f);
  EXPECT_NEAR(p[2].x, 10.0f, 1e-2f) << "through the second grid's own transform";
  ASSERT_EQ(data.colors.size(), 12u);
  for (size_t i = 0; i < 3; ++i) {
    const uint8_t *c = &data.colors[4 * i];
    const EKV3 &q = data.positions[i];
    if (q.x > 9) // the grid without colours: white
      EXPECT_EQ(c[0] + c[1] + c[2], 3 * 255);
    else if (q.x > 0) // orange
      EXPECT_TRUE(c[0] == 255 && c[1] == 128 && c[2] == 0) << int(c[1]);
    else
      EXPECT_TRUE(c[0] == 0 && c[2] == 255);
  }
  EXPECT_TRUE(data.velocities.empty());
  EXPECT_NE(data.columns.find("3 point grids"), std::string::npos) << data.columns;
  EXPECT_NE(data.columns.find("ignored age"), std::string::npos) << data.columns;
}

// Velocities and alpha without a colour: the colour is white, and a grid before it without either
// gets the defaults.
TEST(VdbPoints, VelocityAndAlphaWithoutColour) {
  openvdb::initialize();
  const std::vector<Vec3f> positions = {{0, 0, 0}, {3, 0, 0}};
  const points::PointAttributeVector<Vec3f> wrapper(positions);
  const auto transform = openvdb::math::Transform::createLinearTransform(1.0);
  const auto index =
      openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(wrapper, *transform);
  auto grid = points::createPointDataGrid<points::NullCodec, points::PointDataGrid>(*index, wrapper,
                                                                                    *transform);
  points::appendAttribute<Vec3f>(grid->tree(), "v");
  points::populateAttribute(grid->tree(), index->tree(), "v",
                            points::PointAttributeVector<Vec3f>({{1, 2, 3}, {1, 2, 3}}));
  points::appendAttribute<float>(grid->tree(), "Alpha");
  points::populateAttribute(grid->tree(), index->tree(), "Alpha",
                            points::PointAttributeVector<float>({0.5f, 0.5f}));
  const std::string path =
      writeVdb("velocity.vdb", {pointGrid("plain", {{-5, 0, 0}}, {}, 1), grid});
  ekrender::ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::readParticleFile(path, data, error)) << error;
  ASSERT_EQ(data.positions.size(), 3u);
  ASSERT_EQ(data.velocities.size(), 3u);
  ASSERT_EQ(data.colors.size(), 12u);
  for (size_t i = 0; i < 3; ++i) {
    const bool plain = data.positions[i].x < -4;
    EXPECT_EQ(data.velocities[i].z, plain ? 0.0f : 3.0f) << i;
    EXPECT_EQ(data.colors[4 * i], 255) << i;
    EXPECT_EQ(data.colors[4 * i + 3], plain ? 255 : 128) << i;
  }
}

TEST(VdbPoints, BadFilesAreRefusedWithTheirName) {
  openvdb::initialize();
  ekrender::ParticleData data;
  std::string error;

  auto fog = openvdb::FloatGrid::create();
  fog->setName("density");
  const std::string noPoints = writeVdb("fog.vdb", {fog});
  EXPECT_FALSE(ekrender::readParticleFile(noPoints, data, error));
  EXPECT_EQ(error, noPoints + ": the file holds no point data grids");

  // Cd as an integer attribute.
  auto grid = pointGrid("odd", {{0, 0, 0}}, {}, 1);
  points::appendAttribute<int32_t>(grid->tree(), "Cd");
  const std::string oddType = writeVdb("odd.vdb", {grid});
  EXPECT_FALSE(ekrender::readParticleFile(oddType, data, error));
  EXPECT_EQ(error, oddType + ": grid \"odd\": attribute \"Cd\" holds int32, expected vec3s");

  // A good file cut short.
  std::vector<Vec3f> many(2000);
  for (size_t i = 0; i < many.size(); ++i)
    many[i] = Vec3f(float(i % 37), float(i % 11), float(i) * 0.01f);
  const std::string good = writeVdb("good.vdb", {pointGrid("p", many, many, 0.5)});
  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  const std::string truncated = tempPath("truncated.vdb");
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  EXPECT_FALSE(ekrender::readParticleFile(truncated, data, error));
  EXPECT_EQ(error.rfind(truncated + ": ", 0), 0u) << error;
}

// Damage inside a small file (the middle 64 bytes garbled, the length unchanged) is refused with
// the file's name, and quickly: the file is kept small so that sizes read from the damaged bytes
// cannot make the reader loop for long.
TEST(VdbPoints, DamageInTheMiddleIsRefused) {
  openvdb::initialize();
  std::vector<Vec3f> points(2000);
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = Vec3f(float(i % 41), float(i % 13), float(i) * 0.02f);
  const std::string good = writeVdb("middle.vdb", {pointGrid("p", points, points, 0.5)});
  std::ifstream in(good, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  for (size_t i = bytes.size() / 2 - 32; i < bytes.size() / 2 + 32; ++i)
    bytes[i] = char(bytes[i] ^ 0x5A);
  const std::string damaged = tempPath("damaged_middle.vdb");
  std::ofstream(damaged, std::ios::binary) << bytes;
  ekrender::ParticleData data;
  std::string error;
  EXPECT_FALSE(ekrender::readParticleFile(damaged, data, error));
  EXPECT_EQ(error.rfind(damaged + ": ", 0), 0u) << error;
}

// The caches ekcache writes read back as written: .vdb positions to within the fixed-point step,
// half-float velocities and colours to their precision; binary .ply exactly.
TEST(VdbPoints, SyntheticCachesReadBack) {
  const std::vector<ekrender::CachePoint> swirl = ekrender::swirlPoints(500, 3);
  std::vector<EKV3> expected;
  for (const auto &p : swirl)
    expected.push_back({p.position[0], p.position[1], p.position[2]});
  std::string error;
  for (const std::string kind : {"vdb", "ply"}) {
    const std::string path = tempPath("swirl." + kind);
    ASSERT_TRUE(kind == "vdb" ? ekrender::writeVdbCache(path, swirl, error)
                              : ekrender::writePlyCache(path, swirl, error))
        << error;
    ekrender::ParticleData data;
    ASSERT_TRUE(ekrender::readParticleFile(path, data, error)) << error;
    ASSERT_EQ(data.positions.size(), swirl.size()) << kind;
    ASSERT_EQ(data.velocities.size(), swirl.size()) << kind;
    ASSERT_EQ(data.colors.size(), 4 * swirl.size()) << kind;
    // A .vdb keeps its points in voxel order: each point is found by its position.
    for (size_t i = 0; i < swirl.size(); ++i) {
      const ekrender::CachePoint &want = swirl[i];
      size_t best = 0;
      float nearest = 1e30f;
      for (size_t j = 0; j < data.positions.size(); ++j) {
        const EKV3 &q = data.positions[j];
        const float d = std::abs(q.x - want.position[0]) + std::abs(q.y - want.position[1]) +
                        std::abs(q.z - want.position[2]);
        if (d < nearest) {
          nearest = d;
          best = j;
        }
      }
      ASSERT_LT(nearest, kind == "vdb" ? 1e-3f : 1e-6f) << kind << " point " << i;
      EXPECT_NEAR(data.velocities[best].x, want.velocity[0], 2e-3f) << kind << " point " << i;
      EXPECT_NEAR(data.velocities[best].z, want.velocity[2], 2e-3f) << kind << " point " << i;
      EXPECT_NEAR(data.colors[4 * best + 1], want.color[1] * 255.0f, 1.0f) << kind << i;
      EXPECT_EQ(data.colors[4 * best + 3], 255) << kind << " point " << i;
    }
  }
}

} // namespace
