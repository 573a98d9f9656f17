// A render with every layer beside the beauty-only render of the same frame, in both looks.
//
// Renders the test cloud with velocities at 1920 x 1080: the additive look, and the volumetric
// look lit by a spot and a point light with shadows (medium quality); each first with the layers
// that come from the beauty's own sums (coverage, raw, the additive emission, the volumetric
// depth), then with every layer. The two renders of a comparison alternate, so that a machine busy
// with other work slows both alike; the ratio is of their means. Beside each comparison it times
// the floor of any layered render: two threads writing the layer images' bytes once, with the
// ratio a render would have if its layers cost no more than that.
//
//   bench_layers [--device cpu|cuda] [--particles N] [--repeat N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench_scene.h"

namespace {

using ek::bench::kHeight;
using ek::bench::kWidth;
using ek::bench::msSince;

struct LayerImages {
  std::vector<std::vector<float>> pixels;
  std::vector<EKLayer> request;

  void add(int32_t kind, int32_t light = 0) {
    pixels.emplace_back(size_t(kWidth) * kHeight * size_t(ekLayerChannels(kind)));
    request.push_back({kind, light, nullptr});
    for (size_t n = 0; n < request.size(); ++n)
      request[n].pixels = pixels[n].data();
  }
};

// The mean time two threads take to write every layer image once, each half of each image.
double writeFloorMs(LayerImages &layers, int repeat) {
  double total = 0;
  for (int r = 0; r < repeat; ++r) {
    const auto start = std::chrono::steady_clock::now();
    auto writeHalf = [&](int half) {
      for (std::vector<float> &image : layers.pixels) {
        const size_t middle = image.size() / 2;
        std::fill(image.begin() + (half ? ptrdiff_t(middle) : 0),
                  half ? image.end() : image.begin() + ptrdiff_t(middle), float(r));
      }
    };
    std::thread other(writeHalf, 1);
    writeHalf(0);
    other.join();
    total += msSince(start);
  }
  return total / repeat;
}

// Times `repeat` alternating pairs of renders after one of each that sizes the buffers; false
// (with the error printed) when a render fails.
bool compare(EKContext *context, const char *look, const EKCamera &camera,
             const EKRenderSettings &settings, const EKLight *lights, int32_t lightCount,
             LayerImages &layers, int repeat) {
  std::vector<float> image(size_t(kWidth) * kHeight * 4);
  auto beauty = [&] {
    return ekRender(context, &camera, &settings, lights, lightCount, nullptr, image.data(),
                    nullptr);
  };
  auto layered = [&] {
    return ekRenderLayers(context, &camera, &settings, lights, lightCount, layers.request.data(),
                          int32_t(layers.request.size()), nullptr, image.data(), nullptr);
  };
  double beautyMs = 0, layeredMs = 0;
  for (int r = -1; r < repeat; ++r) {
    auto start = std::chrono::steady_clock::now();
    if (beauty() != 0)
      break;
    const double b = msSince(start);
    start = std::chrono::steady_clock::now();
    if (layered() != 0)
      break;
    const double l = msSince(start);
    if (r >= 0) {
      beautyMs += b;
      layeredMs += l;
    }
    if (r == repeat - 1) {
      std::printf("%-11s beauty %8.1f ms, %zu layers %8.1f ms, ratio %.2f (goal <= 1.3)\n", look,
                  beautyMs / repeat, layers.request.size(), layeredMs / repeat,
                  layeredMs / beautyMs);
      const double floorMs = writeFloorMs(layers, repeat);
      std::printf("%-11s writing the layers' bytes alone %8.1f ms: floor ratio %.2f\n", "", floorMs,
                  1.0 + floorMs * repeat / beautyMs);
      return true;
    }
  }
  std::fprintf(stderr, "bench_layers: %s\n", ekLastError(context));
  return false;
}

} // namespace

int main(int argc, char **argv) {
  ek::bench::Options o;
  if (!ek::bench::parseOptions(argc, argv, o)) {
    std::fprintf(stderr, "usage: bench_layers [--device cpu|cuda] [--particles N] [--repeat N]\n");
    return 2;
  }
  char info[256] = "";
  EKContext *context = ek::bench::openTestCloud("bench_layers", o, 1, info, sizeof info);
  if (!context)
    return 1;
  std::printf("device: %s\n%llu particles with velocities, %d x %d\n\n", info,
              (unsigned long long)o.particles, kWidth, kHeight);
  const EKCamera camera = ek::bench::sceneCamera();
  EKRenderSettings settings{};
  settings.width = kWidth;
  settings.height = kHeight;
  settings.brightness = 0.15f * kWidth * kHeight / float(o.particles);
  settings.exposure = 1;
  settings.radius = 1;
  settings.samples = 1;

  // The layers made from the beauty's own sums alone, then every layer.
  LayerImages additive;
  for (int32_t kind : {EK_LAYER_COVERAGE, EK_LAYER_RAW, EK_LAYER_EMISSION})
    additive.add(kind);
  settings.mode = EK_MODE_ADDITIVE;
  bool ok = compare(context, "additive", camera, settings, nullptr, 0, additive, o.repeat);
  for (int32_t kind : {EK_LAYER_DEPTH, EK_LAYER_FORWARD, EK_LAYER_BACKWARD})
    additive.add(kind);
  ok = ok && compare(context, "additive", camera, settings, nullptr, 0, additive, o.repeat);

  EKLight lights[ek::bench::kSceneLightCount];
  ek::bench::sceneLights(lights);
  ek::bench::setMediumVolume(settings);
  settings.ambient[0] = settings.ambient[1] = 0.05f;
  settings.ambient[2] = 0.06f;
  LayerImages volumetric;
  for (int32_t kind : {EK_LAYER_COVERAGE, EK_LAYER_RAW, EK_LAYER_DEPTH})
    volumetric.add(kind);
  ok = ok && compare(context, "volumetric", camera, settings, lights, 2, volumetric, o.repeat);
  for (int32_t kind : {EK_LAYER_FORWARD, EK_LAYER_BACKWARD, EK_LAYER_EMISSION, EK_LAYER_AMBIENT})
    volumetric.add(kind);
  volumetric.add(EK_LAYER_LIGHT, 0);
  volumetric.add(EK_LAYER_LIGHT, 1);
  ok = ok && compare(context, "volumetric", camera, settings, lights, 2, volumetric, o.repeat);
  ekDestroy(context);
  return ok ? 0 : 1;
}
