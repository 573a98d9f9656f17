// Exact bytes of both writers on fixed images. The other tests check the rules a file follows and
// read files back with independent readers; these pin the files themselves, so that a faster
// conversion, filter search, checksum or write path cannot change a single byte unnoticed. The
// large image is written in several pieces, converted on a second thread where there is one.
//
// The images come from integer arithmetic and single float divisions and products, so they are the
// same on every compiler. PNG samples go through the C library's single-precision pow near the
// gamma thresholds, which other C libraries may round differently, so the PNG files are pinned
// where the readers run (Linux).
#include <bit>
#include <cstring>
#include <limits>

#include "emberkit.h"
#include "image_test_support.h"

namespace {

using namespace ek::test;

uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// FNV-1a, 64 bits.
uint64_t fileHash(const std::vector<uint8_t> &bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (uint8_t b : bytes) {
    hash = (hash ^ b) * 0x100000001B3ull;
  }
  return hash;
}

struct TestImage {
  const char *name;
  int width;
  int height;
  std::vector<float> rgba;
};

// Four bands in which different PNG filter types win (all five occur at both depths): a soft
// premultiplied disc on a transparent background, with long runs of zeros and colour above one;
// rows that repeat the one above; a ramp with independent noise in every sample; and transparent
// black whose alpha is nearly the average of its left and upper neighbours. The width leaves a
// remainder after blocks of 8 and 16 pixels.
TestImage bands() {
  TestImage image{"bands", 203, 117, {}};
  image.rgba.resize(std::size_t(image.width) * image.height * 4);
  std::vector<int> level(std::size_t(image.width) * image.height);
  const int radius2 = 40 * 40;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const std::size_t i = std::size_t(y) * image.width + x;
      float *p = &image.rgba[i * 4];
      if (y >= 97) {
        int &l = level[i];
        l = y == 97 || x == 0 ? int(mix(i) >> 56)
                              : (level[i - 1] + level[i - image.width]) / 2 + int(mix(i) >> 62);
        l = l < 255 ? l : 255;
        p[3] = float(l) / 255.0f;
      } else if (y >= 77) {
        for (int c = 0; c < 4; ++c) {
          p[c] = float(x + y + 64 * c + int(mix(i * 4 + c) >> 61)) / 512.0f;
        }
        p[3] = 1.0f;
      } else if (y >= 57) {
        for (int c = 0; c < 3; ++c) {
          p[c] = float(mix(x * 4 + c) >> 40) / float(1 << 24);
        }
        p[3] = 1.0f;
      } else {
        const int dx = x - 101;
        const int dy = y - 28;
        const int d2 = dx * dx + 4 * dy * dy;
        if (d2 < radius2) {
          const float alpha = float(radius2 - d2) / float(radius2);
          p[0] = alpha * (float(x) / 64.0f);
          p[1] = alpha * (float(y) / 40.0f);
          p[2] = alpha * 0.25f;
          p[3] = alpha;
        }
      }
    }
  }
  return image;
}

// Uniform values in [-0.25, 1.5), and in its last rows every special value the converters treat
// on their own.
TestImage noisy() {
  TestImage image{"noise", 77, 19, {}};
  image.rgba.resize(std::size_t(image.width) * image.height * 4);
  for (std::size_t i = 0; i < image.rgba.size(); ++i) {
    image.rgba[i] = float(int(mix(i) >> 40) - (1 << 22)) / float(1 << 23) * 1.75f;
  }
  const float inf = std::numeric_limits<float>::infinity();
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            -std::numeric_limits<float>::quiet_NaN(),
                            inf,
                            -inf,
                            65504.0f,
                            65520.0f,
                            -70000.0f,
                            1e-8f,
                            -3e-6f,
                            6.1035156e-05f,
                            std::numeric_limits<float>::denorm_min(),
                            -0.0f,
                            1e-7f,
                            2e-6f,
                            1.0f,
                            0.99999994f};
  std::size_t at = image.rgba.size() - 4 * std::size(specials) * 3;
  for (float value : specials) {
    for (int i = 0; i < 3; ++i) {
      image.rgba[at++] = value; // also as the alpha of a neighbouring pixel
    }
  }
  return image;
}

// Arbitrary bit patterns: NaNs with payloads, subnormals, every exponent.
TestImage randomBits() {
  TestImage image{"bits", 41, 13, {}};
  image.rgba.resize(std::size_t(image.width) * image.height * 4);
  for (std::size_t i = 0; i < image.rgba.size(); ++i) {
    image.rgba[i] = std::bit_cast<float>(static_cast<uint32_t>(mix(i + 77)));
  }
  return image;
}

// A large image, written in several pieces, with some NaNs and values beyond the half range.
TestImage large() {
  TestImage image{"large", 1999, 300, {}};
  image.rgba.resize(std::size_t(image.width) * image.height * 4);
  for (std::size_t i = 0; i < image.rgba.size(); ++i) {
    const uint64_t bits = mix(i + 5);
    image.rgba[i] = float(int(bits >> 44) - (1 << 18)) / float(1 << 12);
    if ((bits & 0xFFFF) == 0) {
      image.rgba[i] = std::numeric_limits<float>::quiet_NaN();
    }
  }
  return image;
}

struct Expected {
  std::size_t size;
  uint64_t hash;
};

void expectFile(const std::string &path, const Expected &expected) {
  const std::vector<uint8_t> bytes = readBytes(path);
  EXPECT_EQ(bytes.size(), expected.size);
  EXPECT_EQ(fileHash(bytes), expected.hash) << std::hex << "0x" << fileHash(bytes);
}

TEST_F(ImageFileTest, ExrBytesUnchanged) {
  const TestImage images[] = {bands(), noisy(), randomBits(), large()};
  const Expected expected[] = {
      {192211, 0xC2B1A605780F1724ull},
      {12339, 0x58BD91012FFF6130ull},
      {4803, 0xDE413B45E9E99349ull},
      {4802731, 0x6450051CDA3AA147ull},
  };
  for (int i = 0; i < 4; ++i) {
    const TestImage &image = images[i];
    SCOPED_TRACE(image.name);
    const std::string file = path(std::string(image.name) + ".exr");
    ASSERT_EQ(ekSaveEXR(file.c_str(), image.width, image.height, image.rgba.data()), 0);
    expectFile(file, expected[i]);
  }
}

#if !defined(_WIN32)
TEST_F(ImageFileTest, PngBytesUnchanged) {
  const TestImage images[] = {bands(), noisy(), randomBits()};
  const Expected expected[][2] = {
      {{15526, 0xB6389B80680B7322ull}, {39652, 0x0628878556C9BBC7ull}},
      {{3530, 0xDD9E02A96584F312ull}, {5274, 0x8B9854488DCB17B7ull}},
      {{456, 0xD6B19E81A1F302B6ull}, {627, 0xB19B84CF136BE14Cull}},
  };
  for (int i = 0; i < 3; ++i) {
    for (int sixteenBit = 0; sixteenBit < 2; ++sixteenBit) {
      const TestImage &image = images[i];
      SCOPED_TRACE(std::string(image.name) + (sixteenBit ? " 16 bit" : " 8 bit"));
      const std::string file = path(std::string(image.name) + ".png");
      ASSERT_EQ(ekSavePNG(file.c_str(), image.width, image.height, image.rgba.data(), sixteenBit),
                0);
      expectFile(file, expected[i][sixteenBit]);
    }
  }
}
#endif

} // namespace
