#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "particle_file.h"

namespace {

using ekrender::ParticleData;
using namespace std::string_literals;

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

// Files read the way people write them in spreadsheets and by hand: quoted fields that hold
// separators, quotes and line ends, text columns that are not used, semicolon- and tab-separated
// files with decimal commas.
TEST(ParticleFiles, CsvAsSpreadsheetsWriteIt) {
  struct Case {
    const char *text;
    EKV3 last; // the position of the last particle
    size_t count;
  };
  const Case cases[] = {
      {"id,name,x,y,z\n1,\"Smith, John\",1,2,3\n2,\"say \"\"hi\"\"\",4,5,6\n3,plain words,7,8,9\n",
       {7, 8, 9},
       3},
      {"x,y,z,note\n1,2,3,\"two\nlines, quoted\"\n4,5,6, \"a\" \n", {4, 5, 6}, 2},
      {"\"x\";\"y\";\"z\";name\r\n1,5;-2,25;3;a, b\r\n1e2;0,125;-0,5;c\r\n",
       {100, 0.125f, -0.5f},
       2},
      {"x\ty\tz\tlabel\n1.5\t2\t3\tone two\n4\t5,5\t6\t\n", {4, 5.5f, 6}, 2},
      {"x;y;z\n1;2;3;\n", {1, 2, 3}, 1},
  };
  for (const Case &c : cases) {
    ParticleData data;
    std::string error;
    ASSERT_TRUE(ekrender::parseCsv(c.text, "s.csv", data, error)) << c.text << error;
    ASSERT_EQ(data.positions.size(), c.count) << c.text;
    EXPECT_EQ(data.positions.back().x, c.last.x) << c.text;
    EXPECT_EQ(data.positions.back().y, c.last.y) << c.text;
    EXPECT_EQ(data.positions.back().z, c.last.z) << c.text;
  }
  ParticleData data;
  std::string error;
  // Lines are counted across a quoted field's line ends.
  EXPECT_FALSE(ekrender::parseCsv("x,y,z,note\n1,2,3,\"a\nb\nc\"\n4,5\n", "a.csv", data, error));
  EXPECT_EQ(error, "a.csv:5: expected 4 values, found 2");
  EXPECT_FALSE(ekrender::parseCsv("x;y;z;n\n1;2,5;3;a\n1;two;3;b\n", "b.csv", data, error));
  EXPECT_EQ(error, "b.csv:3: \"two\" in column \"y\" is not a number");
  EXPECT_FALSE(ekrender::parseCsv("x,y,z\n1,2,\"3,5\"\n", "c.csv", data, error))
      << "a comma-separated file has no decimal commas";
  EXPECT_EQ(error, "c.csv:2: \"3,5\" in column \"z\" is not a number");
  EXPECT_FALSE(
      ekrender::parseCsv("x,y,z,n\n1,2,3,a\n1,2,3,\"open\n4,5,6,x\n", "d.csv", data, error));
  EXPECT_EQ(error, "d.csv:3: the quote that opens column 4 is never closed");
  EXPECT_FALSE(ekrender::parseCsv("x,y,z,n\n1,2,3,\"a\"b\n", "e.csv", data, error));
  EXPECT_EQ(error, "e.csv:2: column 4 has text after its closing quote");
  EXPECT_FALSE(ekrender::parseCsv("a;b;c\n1;2;3\n", "f.csv", data, error));
  EXPECT_EQ(error, "f.csv:1: the particles need x, y and z columns");
}

// Two columns that give the same value are refused, naming both; unused names may repeat.
TEST(ParticleFiles, ColumnsThatGiveTheSameValue) {
  ParticleData data;
  std::string error;
  EXPECT_FALSE(ekrender::parseCsv("x,y,z,x\n1,2,3,4\n", "a.csv", data, error));
  EXPECT_EQ(error, "a.csv:1: \"x\" and \"x\" (columns 1 and 4) both give position x");
  EXPECT_FALSE(ekrender::parseCsv("\n\"Points:0\";y;z;r;red\n1;2;3;4;5\n", "b.csv", data, error));
  EXPECT_EQ(error, "b.csv:2: \"r\" and \"red\" (columns 4 and 5) both give colour red");
  ASSERT_TRUE(ekrender::parseCsv("id,x,y,z,id\n1,2,3,4,5\n", "c.csv", data, error)) << error;
  EXPECT_EQ(data.positions[0].x, 2.0f);
  EXPECT_FALSE(ekrender::parsePly("ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                  "property float y\nproperty float z\nproperty float vx\n"
                                  "property float vel_x\nend_header\n1 2 3 4 5\n",
                                  "d.ply", data, error));
  EXPECT_EQ(error, "d.ply: \"vx\" and \"vel_x\" (properties 4 and 5) both give velocity x");
}

// A text header or line stops at a sane length, and a NUL byte, which no text holds, is refused
// where it is found.
TEST(ParticleFiles, TextThatCannotBeParticles) {
  ParticleData data;
  std::string error;
  const std::string longLine(3 << 20, 'a');
  const std::string plyStart = "ply\nformat ascii 1.0\nelement vertex 1\n";
  EXPECT_FALSE(ekrender::parsePly(plyStart + "comment " + longLine + "\nproperty float x\n" +
                                      "property float y\nproperty float z\nend_header\n1 2 3\n",
                                  "a.ply", data, error));
  EXPECT_EQ(error, "a.ply: the PLY header runs past 1 MiB without an end_header line");
  EXPECT_FALSE(ekrender::parsePly(plyStart + "comment a\0b\n"s, "b.ply", data, error));
  EXPECT_EQ(error, "b.ply:4: a NUL byte in the PLY header (not a PLY file, or a damaged one)");
  EXPECT_FALSE(ekrender::parsePly(plyStart + "property float x\nproperty float y\n"
                                             "property float z\nend_header\n1 2 3\0\n"s,
                                  "c.ply", data, error));
  EXPECT_EQ(error, "c.ply:8: a NUL byte, which no text file holds (a binary or damaged file?)");
  EXPECT_FALSE(ekrender::parseCsv(longLine + "\n", "d.csv", data, error));
  EXPECT_EQ(error, "d.csv:1: a line longer than 1 MiB (a binary or damaged file?)");
  EXPECT_FALSE(ekrender::parseCsv("x,y,z,note\n1,2,3,\"a\0\"\n"s, "e.csv", data, error));
  EXPECT_EQ(error, "e.csv:2: a NUL byte, which no text file holds (a binary or damaged file?)");
}

// Only regular files are read: a device that never ends is refused before it is opened, and a
// large file of zeros (sparse: it costs no disk) is refused from its first line, not read whole.
TEST(ParticleFiles, RefusesDevicesAndFilesOfZeros) {
  ParticleData data;
  std::string error;
#ifndef _WIN32
  EXPECT_FALSE(ekrender::readParticleFile("/dev/zero", data, error));
  EXPECT_EQ(error, "/dev/zero: is not a regular file (a character device), not a particle file");
#endif
  const std::string folder = testing::TempDir() + "/zeros_" + std::to_string(getpid());
  std::filesystem::create_directories(folder);
#ifndef _WIN32
  const std::string device = folder + "/null.csv";
  std::filesystem::create_symlink("/dev/null", device);
  EXPECT_FALSE(ekrender::readParticleFile(device, data, error));
  EXPECT_EQ(error, device + ": is not a regular file (a character device), not a particle file");
#endif
  const std::string nul = "a NUL byte, which no text file holds (a binary or damaged file?)";
  const struct {
    const char *name, *start;
    std::string error;
  } cases[] = {
      {"zeros.ply", "", ":1: a NUL byte in the PLY header (not a PLY file, or a damaged one)"},
      {"zeros.csv", "", ":1: " + nul},
      {"header.csv", "x,y,z\n", ":2: " + nul},
  };
  for (const auto &c : cases) {
    const std::string path = folder + "/" + c.name;
    std::ofstream(path, std::ios::binary) << c.start;
    std::filesystem::resize_file(path, uintmax_t(1) << 30);
    EXPECT_FALSE(ekrender::readParticleFile(path, data, error));
    EXPECT_EQ(error, path + c.error);
  }
  std::filesystem::remove_all(folder);
}

} // namespace
