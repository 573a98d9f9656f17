#include <gtest/gtest.h>

#include "column_names.h"
#include "particle_file.h"

namespace {

using ekrender::Attribute;
using ekrender::columnRole;

TEST(ParticleColumns, SpellingsOfCommonTools) {
  struct Case {
    const char *name;
    Attribute attribute;
    int component;
  };
  const Case cases[] = {
      {"x", Attribute::Position, 0},
      {"Z", Attribute::Position, 2},
      {"\"Points:1\"", Attribute::Position, 1},
      {"P[x]", Attribute::Position, 0},
      {"P.z", Attribute::Position, 2},
      {"px", Attribute::Position, 0},
      {"position_y", Attribute::Position, 1},
      {"r", Attribute::Color, 0},
      {"Green", Attribute::Color, 1},
      {"Cd[b]", Attribute::Color, 2},
      {"RGB:0", Attribute::Color, 0},
      {"Alpha", Attribute::Color, 3},
      {"a", Attribute::Color, 3},
      {"vx", Attribute::Velocity, 0},
      {"v[y]", Attribute::Velocity, 1},
      {"Velocity:2", Attribute::Velocity, 2},
      {"vel_z", Attribute::Velocity, 2},
      {"pscale", Attribute::None, 0},
      {"id", Attribute::None, 0},
      {"Points:3", Attribute::None, 0},
      {"nx", Attribute::None, 0},
      {"0", Attribute::None, 0},
      {"Normals:0", Attribute::None, 0},
      {"P[x", Attribute::None, 0},
  };
  for (const Case &c : cases) {
    const ekrender::ColumnRole role = columnRole(c.name);
    EXPECT_EQ(role.attribute, c.attribute) << c.name;
    if (c.attribute != Attribute::None) {
      EXPECT_EQ(role.component, c.component) << c.name;
    }
  }
}

// A CSV as a scientific visualiser exports it: quoted names, extra fields, 0..1 colours.
TEST(ParticleColumns, CsvFromAVisualiser) {
  const std::string text =
      "\"Points:0\",\"Points:1\",\"Points:2\",\"RGB:0\",\"RGB:1\",\"RGB:2\",\"Velocity:0\","
      "\"Velocity:1\",\"Velocity:2\",\"id\"\n"
      "1,2,3,1,0.5,0,0.25,0,0,7\n"
      "4,5,6,0,0,1,0,0,-1,8\n";
  ekrender::ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parseCsv(text, "vis.csv", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 2u);
  EXPECT_EQ(data.positions[1].y, 5.0f);
  EXPECT_EQ(data.colors[0], 255);
  EXPECT_EQ(data.colors[1], 128) << "0.5 of a 0..1 colour";
  EXPECT_EQ(data.colors[6], 255);
  EXPECT_EQ(data.velocities[0].x, 0.25f);
  EXPECT_EQ(data.columns, "position from Points:0,Points:1,Points:2; colour (0..1) from "
                          "RGB:0,RGB:1,RGB:2; velocity from Velocity:0,Velocity:1,Velocity:2");

  ASSERT_TRUE(ekrender::parseCsv("P.x,P.y,P.z,Cd.r\n0,0,0,1\n0,0,0,200\n", "b.csv", data, error));
  EXPECT_EQ(data.colors[0], 1) << "one value above 1 makes the colours 0..255";
  EXPECT_EQ(data.colors[4], 200);
}

} // namespace

namespace {

template <typename T> void append(std::string &bytes, T value) {
  bytes.append(reinterpret_cast<const char *>(&value), sizeof(T));
}

// A binary PLY in the shape mesh and point-cloud tools write: double positions, normals, texture
// coordinates, a scalar field and byte colours per vertex, then a face element.
TEST(ParticleColumns, PlyAsMeshToolsWriteIt) {
  std::string file = "ply\nformat binary_little_endian 1.0\ncomment exported\nelement vertex 3\n"
                     "property double x\nproperty double y\nproperty double z\n"
                     "property float nx\nproperty float ny\nproperty float nz\n"
                     "property float s\nproperty float t\nproperty float scalar_Intensity\n"
                     "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                     "element face 1\nproperty list uchar int vertex_indices\nend_header\n";
  for (int i = 0; i < 3; ++i) {
    for (double p : {1.5 * i, -2.0 * i, 100.0 + i})
      append(file, p);
    for (float f : {0.0f, 0.0f, 1.0f, 0.5f, 0.25f, 42.0f})
      append(file, f);
    for (uint8_t c : {uint8_t(10 * i), uint8_t(200), uint8_t(0)})
      append(file, c);
  }
  append(file, uint8_t(3));
  for (int32_t v : {0, 1, 2})
    append(file, v);
  ekrender::ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parsePly(file, "mesh.ply", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 3u);
  EXPECT_EQ(data.positions[2].x, 3.0f);
  EXPECT_EQ(data.positions[2].z, 102.0f);
  EXPECT_EQ(data.colors[4], 10);
  EXPECT_EQ(data.colors[5], 200);
  EXPECT_TRUE(data.velocities.empty());
  EXPECT_EQ(data.columns, "position from x,y,z; colour (0..255) from red,green,blue");
}

} // namespace
