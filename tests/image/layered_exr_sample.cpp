// Writes a small layered EXR file for readers outside this process (Blender): a beauty that
// covers the left half, depth, forward motion vectors, one light and an emission layer.
//   layered_exr_sample OUTPUT.exr
#include <cstdio>
#include <vector>

#include "image/layered_exr.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: layered_exr_sample OUTPUT.exr\n");
    return 2;
  }
  constexpr int kWidth = 64;
  constexpr int kHeight = 48;
  constexpr std::size_t kPixels = std::size_t{kWidth} * kHeight;
  std::vector<float> rgba(4 * kPixels, 0.0f), depth(kPixels, 1e10f), motion(2 * kPixels, 0.0f);
  std::vector<float> light(3 * kPixels, 0.0f), emission(3 * kPixels, 0.0f);
  for (std::size_t i = 0; i < kPixels; ++i) {
    if (i % kWidth >= kWidth / 2) {
      continue;
    }
    for (std::size_t c = 0; c < 3; ++c) {
      light[3 * i + c] = 0.25f * static_cast<float>(c + 1);
      emission[3 * i + c] = 0.125f;
      rgba[4 * i + c] = light[3 * i + c] + emission[3 * i + c];
    }
    rgba[4 * i + 3] = 1.0f;
    depth[i] = 7.5f;
    motion[i] = 2.0f;
    motion[kPixels + i] = -1.0f;
  }
  using ek::image::ExrSampleType;
  ek::image::LayeredExrImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.channels = ek::image::rgbaChannels(rgba.data(), ExrSampleType::kHalf);
  image.channels.push_back({"Z", ExrSampleType::kFloat, depth.data(), 1, 0});
  image.channels.push_back({"forward.u", ExrSampleType::kHalf, motion.data(), 1, 0});
  image.channels.push_back({"forward.v", ExrSampleType::kHalf, motion.data() + kPixels, 1, 0});
  for (std::size_t c = 0; c < 3; ++c) {
    const char *name[3] = {"R", "G", "B"};
    image.channels.push_back(
        {std::string("light1.") + name[c], ExrSampleType::kHalf, light.data() + c, 3, 0});
    image.channels.push_back(
        {std::string("emission.") + name[c], ExrSampleType::kHalf, emission.data() + c, 3, 0});
  }
  const auto result = ek::image::writeLayeredExr(argv[1], image);
  if (!result.ok()) {
    std::fprintf(stderr, "%s\n", result.message.c_str());
    return 1;
  }
  return 0;
}
