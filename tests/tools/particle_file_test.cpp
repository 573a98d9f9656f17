#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "particle_file.h"

namespace {

using ekrender::ParticleData;

std::string binaryPly(const std::string &properties, const std::string &body, int count) {
  return "ply\nformat binary_little_endian 1.0\ncomment made by a test\nelement vertex " +
         std::to_string(count) + "\n" + properties + "end_header\n" + body;
}

template <typename T> void append(std::string &bytes, T value) {
  char raw[sizeof(T)];
  std::memcpy(raw, &value, sizeof(T));
  bytes.append(raw, sizeof(T));
}

TEST(ParticleFiles, AsciiPlyWithByteColours) {
  const std::string text = "ply\r\nformat ascii 1.0\r\nelement vertex 2\r\nproperty float x\r\n"
                           "property float y\r\nproperty float z\r\nproperty uchar red\r\n"
                           "property uchar green\r\nproperty uchar blue\r\nend_header\r\n"
                           "1 2 3 255 0 10\r\n-4.5 5e1 6 1 2 3\r\n";
  ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parsePly(text, "a.ply", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 2u);
  EXPECT_EQ(data.positions[1].x, -4.5f);
  EXPECT_EQ(data.positions[1].y, 50.0f);
  ASSERT_EQ(data.colors.size(), 8u);
  EXPECT_EQ(data.colors[0], 255);
  EXPECT_EQ(data.colors[2], 10);
  EXPECT_EQ(data.colors[3], 255) << "missing alpha is opaque";
  EXPECT_TRUE(data.velocities.empty());
}

TEST(ParticleFiles, BinaryPlyWithFloatColoursAndVelocities) {
  std::string body;
  for (int i = 0; i < 3; ++i) {
    append(body, float(i));
    append(body, double(-i));
    append(body, float(0.5f * i));
    append(body, float(i == 2 ? 1.0f : 0.25f)); // alpha as a 0..1 float
    append(body, int16_t(7));                   // an attribute that is not read
    append(body, float(i * 10));
  }
  const std::string file = binaryPly("property float x\nproperty double y\nproperty float z\n"
                                     "property float alpha\nproperty short flags\n"
                                     "property float vx\n",
                                     body, 3);
  ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parsePly(file, "b.ply", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 3u);
  EXPECT_EQ(data.positions[2].y, -2.0f);
  EXPECT_EQ(data.positions[2].z, 1.0f);
  EXPECT_EQ(data.colors[3], 64) << "0.25 of 255, rounded";
  EXPECT_EQ(data.colors[11], 255);
  EXPECT_EQ(data.colors[8], 255) << "missing colour channels are full";
  ASSERT_EQ(data.velocities.size(), 3u);
  EXPECT_EQ(data.velocities[2].x, 20.0f);
  EXPECT_EQ(data.velocities[2].y, 0.0f);
}

// Every binary value type decodes with its sign and width, whichever column it fills.
TEST(ParticleFiles, BinaryPlyOfEveryValueType) {
  std::string body;
  append(body, int8_t(-3));
  append(body, uint16_t(60000));
  append(body, int32_t(-70000));
  append(body, uint32_t(4000000000u));
  append(body, int16_t(-300));
  append(body, uint8_t(200));
  append(body, uint8_t(17));
  append(body, double(0.5));
  const std::string file = binaryPly("property char x\nproperty ushort y\nproperty int z\n"
                                     "property uint vx\nproperty short vy\nproperty uint8 vz\n"
                                     "property uchar red\nproperty float64 alpha\n",
                                     body, 1);
  ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parsePly(file, "t.ply", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 1u);
  EXPECT_EQ(data.positions[0].x, -3.0f);
  EXPECT_EQ(data.positions[0].y, 60000.0f);
  EXPECT_EQ(data.positions[0].z, -70000.0f);
  ASSERT_EQ(data.velocities.size(), 1u);
  EXPECT_EQ(data.velocities[0].x, 4e9f);
  EXPECT_EQ(data.velocities[0].y, -300.0f);
  EXPECT_EQ(data.velocities[0].z, 200.0f);
  ASSERT_EQ(data.colors.size(), 4u);
  EXPECT_EQ(data.colors[0], 17);
  EXPECT_EQ(data.colors[1], 255);
  EXPECT_EQ(data.colors[3], 128) << "a 0..1 double alpha";
}

TEST(ParticleFiles, BinaryPlyThatEndsEarlySaysWhere) {
  std::string body;
  for (int i = 0; i < 5; ++i)
    append(body, float(i));
  const std::string file =
      binaryPly("property float x\nproperty float y\nproperty float z\n", body, 2);
  const size_t headerSize = file.size() - body.size();
  ParticleData data;
  std::string error;
  ASSERT_FALSE(ekrender::parsePly(file, "c.ply", data, error));
  EXPECT_EQ(error,
            "c.ply: byte " + std::to_string(headerSize + 12) + ": file ends inside vertex 1 of 2");
}

TEST(ParticleFiles, MalformedFilesNameTheLine) {
  ParticleData data;
  std::string error;
  EXPECT_FALSE(
      ekrender::parsePly("ply\nformat binary_big_endian 1.0\nend_header\n", "d.ply", data, error));
  EXPECT_EQ(error, "d.ply:2: unsupported PLY format (ascii and binary_little_endian are read)");
  EXPECT_FALSE(ekrender::parsePly("plx\n", "e.ply", data, error));
  EXPECT_EQ(error, "e.ply:1: not a PLY file (the first line must be \"ply\")");
  const std::string header = "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                             "property float y\nproperty float z\nend_header\n";
  EXPECT_FALSE(ekrender::parsePly(header + "1 2 3\n4 5\n", "f.ply", data, error));
  EXPECT_EQ(error, "f.ply:9: expected 3 values, found 2");
  EXPECT_FALSE(ekrender::parsePly(header + "1 2 3\n4 five 6\n", "g.ply", data, error));
  EXPECT_EQ(error, "g.ply:9: \"five\" is not a number");
  EXPECT_FALSE(ekrender::parsePly(header + "1 2 3\n", "h.ply", data, error));
  EXPECT_EQ(error, "h.ply:9: file ends after 1 of 2 vertices");
  EXPECT_FALSE(ekrender::parsePly("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                  "end_header\n1\n",
                                  "i.ply", data, error));
  EXPECT_EQ(error, "i.ply: the particles need x, y and z columns");
}

TEST(ParticleFiles, CsvWithHeaderRow) {
  const std::string text = "x, y, z, r, g, b, a, vx, vy, vz\n"
                           "1,2,3,255,128,0,300,0.5,0,0\n"
                           "\n"
                           "4,5,6,-3,1,2,3,0,0,-1\n";
  ParticleData data;
  std::string error;
  ASSERT_TRUE(ekrender::parseCsv(text, "p.csv", data, error)) << error;
  ASSERT_EQ(data.positions.size(), 2u);
  EXPECT_EQ(data.positions[1].z, 6.0f);
  EXPECT_EQ(data.colors[1], 128);
  EXPECT_EQ(data.colors[3], 255) << "clamped to a byte";
  EXPECT_EQ(data.colors[4], 0) << "negative colours are 0";
  EXPECT_EQ(data.velocities[1].z, -1.0f);

  EXPECT_FALSE(ekrender::parseCsv("x,y,z\n1,2,3\n1,2\n", "q.csv", data, error));
  EXPECT_EQ(error, "q.csv:3: expected 3 values, found 2");
  EXPECT_FALSE(ekrender::parseCsv("x,y,z\n1,2,3\n1,,3\n", "r.csv", data, error));
  EXPECT_EQ(error, "r.csv:3: \"\" in column \"y\" is not a number");
  EXPECT_FALSE(ekrender::parseCsv("a,b,c\n1,2,3\n", "s.csv", data, error));
  EXPECT_EQ(error, "s.csv:1: the particles need x, y and z columns");
  EXPECT_FALSE(ekrender::parseCsv("\n\n", "t.csv", data, error));
}

// Rows as spreadsheets and old Mac programs write them: a byte-order mark, CR or CR LF line ends,
// and a comma after the last value of every row.
TEST(ParticleFiles, CsvFromSpreadsheetsAndOldMacs) {
  const std::string variants[] = {"\xEF\xBB\xBFx,y,z\r\n1,2,3\r\n4,5,6\r\n",
                                  "x,y,z\r1,2,3\r\r4,5,6", "x,y,z,\n1,2,3,\n4,5,6\n",
                                  "x,y,z\n1,2,3,\n4,5,6,\n"};
  for (const std::string &text : variants) {
    ParticleData data;
    std::string error;
    ASSERT_TRUE(ekrender::parseCsv(text, "u.csv", data, error)) << error;
    ASSERT_EQ(data.positions.size(), 2u) << text;
    EXPECT_EQ(data.positions[0].x, 1.0f) << text;
    EXPECT_EQ(data.positions[1].z, 6.0f) << text;
  }
  ParticleData data;
  std::string error;
  EXPECT_FALSE(ekrender::parseCsv("x,y,z\r1,2,3\r1,2,\r", "v.csv", data, error));
  EXPECT_EQ(error, "v.csv:3: \"\" in column \"z\" is not a number");
}

// Element counts are whole decimal numbers below 2^64, and elements before the vertices must lie
// inside the file: no count may wrap the read position round into the header.
TEST(ParticleFiles, PlyCountsAreWholeNumbersAndOffsetsCannotWrap) {
  ParticleData data;
  std::string error;
  for (const char *count : {"inf", "nan", "1e300", "1e3", "2.5", "-1", "18446744073709551616",
                            "99999999999999999999999"}) {
    const std::string file = "ply\nformat ascii 1.0\nelement vertex " + std::string(count) +
                             "\nproperty float x\nproperty float y\nproperty float z\n"
                             "end_header\n";
    EXPECT_FALSE(ekrender::parsePly(file, "w.ply", data, error)) << count;
    EXPECT_EQ(error, "w.ply:3: malformed element line") << count;
  }
  // 2^53 + 1 is kept exactly.
  const std::string huge = "ply\nformat ascii 1.0\nelement vertex 9007199254740993\n"
                           "property float x\nproperty float y\nproperty float z\nend_header\n";
  EXPECT_FALSE(ekrender::parsePly(huge, "x.ply", data, error));
  EXPECT_EQ(error, "x.ply:8: file ends after 0 of 9007199254740993 vertices");

  std::string body;
  for (int i = 0; i < 3; ++i)
    append(body, float(i + 1));
  // 2^61 and 2^61 - 1 records of 8 bytes bring the read position round to the data's start and
  // into the header.
  for (const char *count : {"2305843009213693952", "2305843009213693951"}) {
    const std::string file = "ply\nformat binary_little_endian 1.0\nelement pad " +
                             std::string(count) +
                             "\nproperty double value\nelement vertex 1\nproperty float x\n"
                             "property float y\nproperty float z\nend_header\n" +
                             body;
    const size_t dataStart = file.size() - body.size();
    EXPECT_FALSE(ekrender::parsePly(file, "y.ply", data, error)) << count;
    EXPECT_EQ(error,
              "y.ply: byte " + std::to_string(dataStart + 8) + ": file ends inside element \"pad\"")
        << count;
  }
}

TEST(ParticleFiles, UnknownExtensionMissingFileAndFolder) {
  ParticleData data;
  std::string error;
  EXPECT_FALSE(ekrender::readParticleFile("/nonexistent/particles.ply", data, error));
  EXPECT_EQ(error, "/nonexistent/particles.ply: cannot open the file (No such file or directory)");
  const std::string folder = testing::TempDir() + "/particles_" + std::to_string(getpid()) + ".csv";
  std::filesystem::create_directories(folder);
  EXPECT_FALSE(ekrender::readParticleFile(folder, data, error));
  EXPECT_EQ(error, folder + ": is a folder, not a particle file");
  std::filesystem::remove(folder);
}

} // namespace
