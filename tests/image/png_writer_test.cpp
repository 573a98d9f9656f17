// ekSavePNG: files read back with libpng (pixels, header, gamma; it checks the CRCs), zlib (the
// filtered rows and their Adler-32) and pngcheck, checked against the conversion and filter rules
// worked by hand.
#include <png.h>
#include <zlib.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

#include "emberkit.h"
#include "image/gamma_table.h"
#include "image/png_encode.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct PngRead {
  bool ok = false;
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_fixed_point gamma = 0;
  std::vector<uint8_t> raw;      // the unfiltered rows as stored
  std::vector<uint32_t> samples; // R, G, B, A per pixel
};

// pngcheck as found when the build was configured, or as EK_TEST_PNGCHECK names it (a copy of the
// test binaries in another folder brings its own); empty when there is none.
std::string pngcheckProgram() {
  if (const char *program = std::getenv("EK_TEST_PNGCHECK"); program != nullptr && *program) {
    return program;
  }
#if defined(EK_PNGCHECK)
  return EK_PNGCHECK;
#else
  return "";
#endif
}

void pngFailure(png_structp png, png_const_charp message) {
  ADD_FAILURE() << "libpng: " << message;
  png_longjmp(png, 1);
}

PngRead readPng(const std::string &path) {
  PngRead result;
  std::FILE *file = openForReading(path);
  if (file == nullptr) {
    return result;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailure, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    png_get_IHDR(png, info, &result.width, &result.height, &result.bitDepth, &result.colorType,
                 &result.interlace, nullptr, nullptr);
    png_get_gAMA_fixed(png, info, &result.gamma);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    result.raw.resize(rowBytes * result.height);
    for (png_uint_32 y = 0; y < result.height; ++y) {
      rows.push_back(result.raw.data() + y * rowBytes);
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr); // reads on to IEND
    for (std::size_t i = 0; i < result.raw.size(); i += result.bitDepth / 8) {
      result.samples.push_back(result.bitDepth == 16 ? result.raw[i] << 8 | result.raw[i + 1]
                                                     : result.raw[i]);
    }
    result.ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return result;
}

struct Chunk {
  std::string type;
  std::vector<uint8_t> data;
  uint32_t crc;
};

// The chunks after the signature; the walk must end exactly at the end of the file.
std::vector<Chunk> readChunks(const std::vector<uint8_t> &file) {
  std::vector<Chunk> chunks;
  std::size_t at = 8;
  while (at + 12 <= file.size() && at + 12 + readBe32(&file[at]) <= file.size()) {
    const std::size_t length = readBe32(&file[at]);
    const auto begin = file.begin() + static_cast<std::ptrdiff_t>(at);
    chunks.push_back({std::string(begin + 4, begin + 8),
                      {begin + 8, begin + 8 + length},
                      readBe32(&file[at + 8 + length])});
    at += 12 + length;
  }
  EXPECT_EQ(at, file.size());
  return chunks;
}

// The filtered rows: the IDAT stream inflated by zlib, which also checks its Adler-32.
std::vector<uint8_t> filteredRows(const std::string &path, std::size_t expected) {
  for (const Chunk &chunk : readChunks(readBytes(path))) {
    if (chunk.type == "IDAT") {
      std::vector<uint8_t> rows(expected + 1);
      uLongf size = rows.size();
      EXPECT_EQ(uncompress(rows.data(), &size, chunk.data.data(), chunk.data.size()), Z_OK);
      rows.resize(size);
      return rows;
    }
  }
  ADD_FAILURE() << "no IDAT chunk";
  return {};
}

// The conversion rule written out step by step, without tables or vector code.
uint32_t expectedSample(const float *pixel, int channel, bool sixteenBit) {
  const float scale = sixteenBit ? 65535.0f : 255.0f;
  const float alpha = std::isnan(pixel[3]) || pixel[3] < 0.0f ? 0.0f : std::min(1.0f, pixel[3]);
  if (channel == 3) {
    return static_cast<uint32_t>(alpha * scale + 0.5f);
  }
  float c = alpha > 1e-6f ? pixel[channel] / alpha : 0.0f;
  c = std::isnan(c) || c < 0.0f ? 0.0f : std::min(c, 1.0f);
  return static_cast<uint32_t>(std::pow(c, 0.45454544f) * scale + 0.5f);
}

// Filtering by definition, for checking the writer's rows and choices.
int predictByDefinition(int type, int a, int b, int c) {
  const int p = a + b - c;
  const int paeth = std::abs(p - a) <= std::abs(p - b) && std::abs(p - a) <= std::abs(p - c)
                        ? a
                        : (std::abs(p - b) <= std::abs(p - c) ? b : c);
  const int predictions[5] = {0, a, b, (a + b) / 2, paeth};
  return predictions[type];
}

// Filtered row and its cost for one type; `above` is null for the first row.
std::pair<std::vector<uint8_t>, uint64_t> filterByDefinition(int type, const uint8_t *row,
                                                             const uint8_t *above,
                                                             std::size_t length, std::size_t bpp) {
  std::vector<uint8_t> out(length);
  uint64_t cost = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0;
    const int b = above != nullptr ? above[i] : 0;
    const int c = above != nullptr && i >= bpp ? above[i - bpp] : 0;
    out[i] = static_cast<uint8_t>(row[i] - predictByDefinition(type, a, b, c));
    cost += out[i] < 128 ? out[i] : 256 - out[i];
  }
  return {out, cost};
}

class PngWriter : public ImageFileTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Depths, PngWriter, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "16bit" : "8bit"; });

TEST_P(PngWriter, OnePixelFileLayout) {
  const bool sixteen = GetParam();
  const float white[4] = {1, 1, 1, 1};
  ASSERT_EQ(ekSavePNG(path("one.png").c_str(), 1, 1, white, sixteen ? 1 : 0), 0);
  const std::vector<uint8_t> file = readBytes(path("one.png"));
  const uint8_t crc[2][4] = {{0x1F, 0x15, 0xC4, 0x89}, {0x4F, 0x85, 0x18, 0xCA}};
  const std::vector<uint8_t> start = {0x89,
                                      'P',
                                      'N',
                                      'G',
                                      0x0D,
                                      0x0A,
                                      0x1A,
                                      0x0A,
                                      0,
                                      0,
                                      0,
                                      13,
                                      'I',
                                      'H',
                                      'D',
                                      'R',
                                      0,
                                      0,
                                      0,
                                      1,
                                      0,
                                      0,
                                      0,
                                      1,
                                      uint8_t(sixteen ? 16 : 8),
                                      6,
                                      0,
                                      0,
                                      0,
                                      crc[sixteen][0],
                                      crc[sixteen][1],
                                      crc[sixteen][2],
                                      crc[sixteen][3],
                                      0,
                                      0,
                                      0,
                                      4,
                                      'g',
                                      'A',
                                      'M',
                                      'A',
                                      0,
                                      0,
                                      0xB1,
                                      0x8F,
                                      0x0B,
                                      0xFC,
                                      0x61,
                                      0x05};
  const std::vector<uint8_t> end = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  ASSERT_GT(file.size(), 73u);
  EXPECT_TRUE(std::equal(start.begin(), start.end(), file.begin()));
  EXPECT_TRUE(std::equal(end.begin(), end.end(), file.end() - 12));

  const std::vector<Chunk> chunks = readChunks(file);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[2].type, "IDAT");
  EXPECT_EQ(file.size(), 73 + chunks[2].data.size());
  std::vector<uint8_t> row(sixteen ? 9 : 5, 0xFF);
  row[0] = 0; // every filter costs the same: None
  EXPECT_EQ(filteredRows(path("one.png"), row.size()), row);
}

TEST_P(PngWriter, ConversionRules) {
  const bool sixteen = GetParam();
  const uint32_t full = sixteen ? 65535 : 255;
  const uint32_t half = sixteen ? 47824 : 186; // linear 0.5
  const uint32_t halfAlpha = sixteen ? 32768 : 128;
  struct Case {
    float rgba[4];
    uint32_t expected[4];
  };
  const Case cases[] = {
      {{1, 1, 1, 1}, {full, full, full, full}},
      {{0.5f, 0.5f, 0.5f, 1}, {half, half, half, full}},
      {{0.25f, 0.25f, 0.25f, 0.5f}, {half, half, half, halfAlpha}}, // un-premultiplied
      {{0.7f, 0.2f, 0.9f, 0}, {0, 0, 0, 0}},
      {{0.5e-6f, 0.5e-6f, 0.5e-6f, 1e-6f}, {0, 0, 0, 0}},
      {{0.3f, 0.3f, 0.3f, -0.5f}, {0, 0, 0, 0}},
      {{0.5f, 0.5f, 0.5f, 2}, {half, half, half, full}},
      {{2, 0.9f, 5, 0.5f}, {full, full, full, halfAlpha}}, // over-bright saturates
      {{-0.3f, -0.0f, 0.5f, 1}, {0, 0, half, full}},
      {{kNaN, 0.5f, 0.5f, 1}, {0, half, half, full}},
      {{0.5f, 0.5f, 0.5f, kNaN}, {0, 0, 0, 0}},
      {{kInf, 0.25f, -kInf, 0.5f}, {full, half, 0, halfAlpha}},
  };
  std::vector<float> image;
  for (const Case &c : cases) {
    image.insert(image.end(), c.rgba, c.rgba + 4);
  }
  // Any non-zero sixteenBit selects 16 bits.
  ASSERT_EQ(ekSavePNG(path("rules.png").c_str(), 4, 3, image.data(), sixteen ? -7 : 0), 0);
  const PngRead png = readPng(path("rules.png"));
  ASSERT_TRUE(png.ok);
  EXPECT_EQ(png.bitDepth, sixteen ? 16 : 8);
  EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGBA);
  EXPECT_EQ(png.interlace, PNG_INTERLACE_NONE);
  EXPECT_EQ(png.gamma, 45455);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    for (int channel = 0; channel < 4; ++channel) {
      EXPECT_EQ(png.samples[i * 4 + channel], cases[i].expected[channel])
          << "pixel " << i << " channel " << channel;
    }
  }
}

// A wide spread of values: every sample as the rule gives it, every row stored with the cheapest
// filter as defined, and pngcheck content with the file.
TEST_P(PngWriter, VariedImageFollowsRules) {
  const bool sixteen = GetParam();
  const int width = 61;
  const int height = 29;
  std::mt19937 random(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<float> image(width * height * 4);
  for (float &v : image) {
    const float u = unit(random);
    v = u < 0.1f ? -u : (u < 0.2f ? 4 * u : std::pow(u, 8.0f) * unit(random));
  }
  std::fill(image.begin() + width * 4 * 3, image.begin() + width * 4 * 5, 0.5f); // flat rows
  ASSERT_EQ(ekSavePNG(path("varied.png").c_str(), width, height, image.data(), sixteen), 0);
  const PngRead png = readPng(path("varied.png"));
  ASSERT_TRUE(png.ok);
  for (std::size_t i = 0; i < image.size(); ++i) {
    ASSERT_EQ(png.samples[i], expectedSample(&image[i & ~std::size_t{3}], i & 3, sixteen))
        << "sample " << i;
  }

  const std::size_t bpp = sixteen ? 8 : 4;
  const std::size_t length = width * bpp;
  const std::vector<uint8_t> stored = filteredRows(path("varied.png"), height * (length + 1));
  ASSERT_EQ(stored.size(), height * (length + 1));
  for (int y = 0; y < height; ++y) {
    const uint8_t *row = png.raw.data() + y * length;
    const uint8_t *above = y > 0 ? row - length : nullptr;
    int best = 0;
    for (int type = 1; type < 5; ++type) { // strictly cheaper replaces: ties keep the earlier
      best = filterByDefinition(type, row, above, length, bpp).second <
                     filterByDefinition(best, row, above, length, bpp).second
                 ? type
                 : best;
    }
    const uint8_t *out = stored.data() + y * (length + 1);
    EXPECT_EQ(out[0], best) << "row " << y;
    EXPECT_EQ(std::vector<uint8_t>(out + 1, out + 1 + length),
              filterByDefinition(best, row, above, length, bpp).first)
        << "row " << y;
  }
  const std::string pngcheck = pngcheckProgram();
  if (!pngcheck.empty()) {
    const std::string command = pngcheck + " -q '" + path("varied.png") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
}

// The worked example through the whole writer (two equal pixels with samples 80 80 80 FF), and an
// all-zero picture, which stays unfiltered.
TEST_F(ImageFileTest, PngWorkedFilterExamples) {
  const float c = static_cast<float>(std::pow(128.0 / 255.0, 1.0 / 0.45454544));
  ASSERT_EQ(static_cast<uint32_t>(std::pow(c, 0.45454544f) * 255.0f + 0.5f), 128u);
  const float image[8] = {c, c, c, 1, c, c, c, 1};
  ASSERT_EQ(ekSavePNG(path("example.png").c_str(), 2, 1, image, 0), 0);
  const std::vector<uint8_t> stored = {1, 0x80, 0x80, 0x80, 0xFF, 0, 0, 0, 0};
  EXPECT_EQ(filteredRows(path("example.png"), 9), stored);

  const std::vector<float> zeros(5 * 4 * 4, 0.0f);
  ASSERT_EQ(ekSavePNG(path("zero.png").c_str(), 5, 4, zeros.data(), 1), 0);
  EXPECT_EQ(filteredRows(path("zero.png"), 4 * 41), std::vector<uint8_t>(4 * 41, 0));
}

TEST(PngFilter, WorkedExampleCosts) {
  const uint8_t row[8] = {0x80, 0x80, 0x80, 0xFF, 0x80, 0x80, 0x80, 0xFF};
  const std::array<uint64_t, 5> expected = {770, 385, 770, 705, 385};
  EXPECT_EQ(ek::image::pngFilterCosts(row, nullptr, 8, 4), expected);
}

// Long rows built so that each predictor fits them exactly (small residues): the costs of all
// five filters and the stored row follow the definitions, and each type wins its own row.
TEST(PngFilter, LongRowsFollowDefinitions) {
  std::mt19937 random(9);
  for (std::size_t bpp : {4u, 8u}) {
    const std::size_t length = 600;
    std::vector<uint8_t> above(length);
    for (uint8_t &v : above) {
      v = static_cast<uint8_t>(random());
    }
    for (int type = 1; type < 5; ++type) {
      std::vector<uint8_t> row(length);
      for (std::size_t i = 0; i < length; ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int c = i >= bpp ? above[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(random() % 3 + predictByDefinition(type, a, above[i], c));
      }
      std::array<uint64_t, 5> costs{};
      for (int t = 0; t < 5; ++t) {
        costs[t] = filterByDefinition(t, row.data(), above.data(), length, bpp).second;
      }
      EXPECT_EQ(ek::image::pngFilterCosts(row.data(), above.data(), length, bpp), costs);
      std::vector<uint8_t> out(length + 1);
      ASSERT_EQ(ek::image::filterPngRow(row.data(), above.data(), length, bpp, out.data()), type);
      EXPECT_EQ(std::vector<uint8_t>(out.begin() + 1, out.end()),
                filterByDefinition(type, row.data(), above.data(), length, bpp).first);
    }
  }
}

// The table-driven encoding against the formula on both sides of every threshold, where an
// off-by-one in the table would show.
TEST(PngGamma, TableMatchesFormulaAroundEveryThreshold) {
  for (const auto *table :
       {&ek::image::GammaTable::eightBit(), &ek::image::GammaTable::sixteenBit()}) {
    const float scale = static_cast<float>(table->maxValue());
    for (uint32_t k = 1; k <= table->maxValue(); ++k) {
      for (int32_t offset = -40; offset <= 40; ++offset) {
        const float c = std::bit_cast<float>(table->threshold(k) + offset);
        if (c >= 0.0f && c <= 1.0f) {
          ASSERT_EQ(table->encode(c),
                    static_cast<uint32_t>(std::pow(c, 0.45454544f) * scale + 0.5f))
              << std::hexfloat << c;
        }
      }
    }
    EXPECT_EQ(table->encode(0.0f), 0u);
    EXPECT_EQ(table->encode(1.0f), table->maxValue());
  }
}

} // namespace
