// Times the image writers on a 1920 × 1080 render of the procedural test cloud, side by side with
// their baselines, and prints the ratios:
// - ekSavePNG (8 and 16 bits) against the zlib compressor alone on the same filtered rows (goal:
//   within 1.2×) and against libpng writing the same samples at its default level;
// - ekSaveEXR against one fwrite of as many bytes as the EXR file (goal: within 1.5×), for
//   reference against fallocate and one fwrite (ekSaveEXR sets the file's room aside on Linux),
//   and against OpenEXR writing the same uncompressed half RGBA image from the same floats (goal:
//   faster);
// - the layered EXR writer with ZIP against OpenEXR writing the same 15 channels with
//   ZIP_COMPRESSION from the same floats (goal: faster, and a file no larger), each on one thread
//   and on one thread per core. The channels are those of a layered render: R, G, B, A, Z (float),
//   forward.u, forward.v, light1.R/G/B, light2.R/G/B, emission.Y and coverage.Y (float), made
//   from the test cloud's beauty, empty where it is.
// Every writer creates a new file (the previous one is removed untimed), so the time includes
// ekSaveEXR's and ekSavePNG's temporary file and its rename onto a free name, but no flushing of
// a replaced file. The machine's load moves the times between benchmarks; with repetitions,
// --benchmark_enable_random_interleaving=true spreads it over ours and the baselines alike.
#include <benchmark/benchmark.h>
#include <png.h>
#if defined(__linux__)
#include <fcntl.h>
#endif

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfRgbaFile.h>
#include <ImfThreading.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "emberkit.h"
#include "image/layered_exr.h"
#include "image/png_encode.h"
#include "image/zlib_stream.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr uint64_t kParticles = 1000000;

std::vector<float> gImage;
fs::path gDir;

fs::path outputPath(const std::string &name) { return gDir / name; }

// Every writer creates a new file: the previous one is removed outside the timed part, so that
// no writer pays for the file system flushing a file that is truncated and rewritten.
void removeUntimed(benchmark::State &state, const std::string &path) {
  state.PauseTiming();
  std::error_code error;
  fs::remove(path, error);
  state.ResumeTiming();
}

// Renders the test cloud through the public interface; prints the library's error on failure.
bool renderTestImage() {
  EKContext *context = ekCreate(EK_DEVICE_CPU);
  if (context == nullptr) {
    std::fprintf(stderr, "ekCreate(EK_DEVICE_CPU) failed\n");
    return false;
  }
  EKCamera camera{};
  camera.eye = {0.0f, 120.0f, 220.0f};
  camera.target = {0.0f, 0.0f, 0.0f};
  camera.up = {0.0f, 1.0f, 0.0f};
  camera.fovY = 45.0f;
  camera.projection = EK_PROJECTION_PERSPECTIVE;
  EKRenderSettings settings{};
  settings.width = kWidth;
  settings.height = kHeight;
  settings.brightness = 0.15f * kWidth * kHeight / 1e6f;
  settings.exposure = 1.0f;
  settings.samples = 1;
  settings.mode = EK_MODE_ADDITIVE;
  gImage.assign(static_cast<std::size_t>(kWidth) * kHeight * 4, 0.0f);
  bool ok = ekGenerateTestCloud(context, kParticles, 1, 0) == 0 &&
            ekRender(context, &camera, &settings, nullptr, 0, nullptr, gImage.data(), nullptr) == 0;
  if (!ok) {
    const char *error = ekLastError(context);
    std::fprintf(stderr, "test cloud render failed: %s\n", error != nullptr ? error : "(no text)");
  }
  ekDestroy(context);
  return ok;
}

void savePng(benchmark::State &state, bool sixteenBit) {
  const std::string path = outputPath(sixteenBit ? "ek16.png" : "ek8.png").string();
  for (auto _ : state) {
    removeUntimed(state, path);
    if (ekSavePNG(path.c_str(), kWidth, kHeight, gImage.data(), sixteenBit ? 1 : 0) != 0) {
      state.SkipWithError("ekSavePNG failed");
      break;
    }
  }
}

void compressOnly(benchmark::State &state, bool sixteenBit) {
  const auto filtered = ek::image::filterPngImage(gImage.data(), kWidth, kHeight, sixteenBit);
  const std::size_t size = ek::image::pngFilteredSize(kWidth, kHeight, sixteenBit);
  for (auto _ : state) {
    std::size_t streamSize = 0;
    ek::image::ZlibStream stream = ek::image::zlibCompress(filtered.get(), size, &streamSize);
    benchmark::DoNotOptimize(stream.get());
    state.counters["stream_bytes"] = static_cast<double>(streamSize);
  }
}

// libpng at its default compression level and filter choice, from the same samples that
// ekSavePNG filters.
void libpngDefault(benchmark::State &state, bool sixteenBit) {
  const std::size_t rowBytes = kWidth * ek::image::pngBytesPerPixel(sixteenBit);
  std::vector<uint8_t> samples(rowBytes * kHeight);
  std::vector<png_bytep> rows(kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    rows[y] = samples.data() + y * rowBytes;
    ek::image::convertPngRow(gImage.data() + static_cast<std::size_t>(y) * kWidth * 4, kWidth,
                             sixteenBit, rows[y]);
  }
  const std::string path = outputPath(sixteenBit ? "libpng16.png" : "libpng8.png").string();
  for (auto _ : state) {
    removeUntimed(state, path);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (file == nullptr || png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng write failed");
      break;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, sixteenBit ? 16 : 8, PNG_COLOR_TYPE_RGBA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_gAMA_fixed(png, info, 45455);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
  }
}

uint64_t exrFileSize() { return 331 + 8ull * kHeight + kHeight * (8ull + 8ull * kWidth); }

void saveExr(benchmark::State &state) {
  const std::string path = outputPath("ek.exr").string();
  for (auto _ : state) {
    removeUntimed(state, path);
    if (ekSaveEXR(path.c_str(), kWidth, kHeight, gImage.data()) != 0) {
      state.SkipWithError("ekSaveEXR failed");
      break;
    }
  }
}

void fwriteOnly(benchmark::State &state) {
  const std::vector<uint8_t> bytes(exrFileSize(), 0x5A);
  const std::string path = outputPath("fwrite.bin").string();
  for (auto _ : state) {
    removeUntimed(state, path);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      state.SkipWithError("fwrite failed");
    }
    if (file != nullptr) {
      std::fclose(file);
    }
  }
}

#if defined(__linux__)
// One fwrite of the same size into a file whose room was set aside first with fallocate, as
// ekSaveEXR does on Linux: the part of ekSaveEXR's lead over the plain fwrite that comes from the
// file system's cheaper handling of preallocated space, not from the writer itself.
void fwritePreallocated(benchmark::State &state) {
  const std::vector<uint8_t> bytes(exrFileSize(), 0x5A);
  const std::string path = outputPath("fwrite_preallocated.bin").string();
  for (auto _ : state) {
    removeUntimed(state, path);
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
      fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes.size()));
    }
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      state.SkipWithError("fwrite failed");
    }
    if (file != nullptr) {
      std::fclose(file);
    }
  }
}
#endif

// OpenEXR writing the same image uncompressed with half channels A, B, G, R. OpenEXR takes half
// pixels, so the conversion (Imath's half) is timed with the write in one variant and done
// beforehand in the other.
void openExr(benchmark::State &state, bool convertInLoop) {
  const std::string path =
      outputPath(convertInLoop ? "openexr_convert.exr" : "openexr.exr").string();
  const std::size_t pixels = static_cast<std::size_t>(kWidth) * kHeight;
  std::vector<Imf::Rgba> halves(pixels);
  const auto convert = [&] {
    for (std::size_t i = 0; i < pixels; ++i) {
      const float *p = gImage.data() + i * 4;
      halves[i] = Imf::Rgba(p[0], p[1], p[2], p[3]);
    }
  };
  convert();
  for (auto _ : state) {
    removeUntimed(state, path);
    if (convertInLoop) {
      convert();
    }
    Imf::RgbaOutputFile file(path.c_str(), kWidth, kHeight, Imf::WRITE_RGBA, 1.0f,
                             Imath::V2f(0.0f, 0.0f), 1.0f, Imf::INCREASING_Y, Imf::NO_COMPRESSION);
    file.setFrameBuffer(halves.data(), 1, kWidth);
    file.writePixels(kHeight);
  }
}

// The channels of a layered render, made from the beauty: where the beauty is empty so is every
// layer (depth far away), elsewhere depth and motion vary smoothly and the lights share the colour.
struct Layers {
  std::vector<float> depth, motion, light1, light2, emission, coverage;
  std::vector<ek::image::ExrChannel> channels;
};
Layers gLayers;

void makeLayers() {
  const std::size_t pixels = static_cast<std::size_t>(kWidth) * kHeight;
  Layers &l = gLayers;
  l.depth.assign(pixels, 1e10f);
  l.motion.assign(2 * pixels, 0.0f);
  l.light1.assign(3 * pixels, 0.0f);
  l.light2.assign(3 * pixels, 0.0f);
  l.emission.assign(pixels, 0.0f);
  l.coverage.assign(pixels, 0.0f);
  for (std::size_t i = 0; i < pixels; ++i) {
    const float *p = gImage.data() + 4 * i;
    if (p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f && p[3] == 0.0f) {
      continue;
    }
    const float x = static_cast<float>(i % kWidth) / kWidth;
    const float y = static_cast<float>(i / kWidth) / kHeight;
    l.depth[i] = 150.0f + 80.0f * x - 30.0f * y;
    l.motion[i] = 3.0f * x - 1.5f;
    l.motion[pixels + i] = 0.5f - y;
    for (std::size_t c = 0; c < 3; ++c) {
      l.light1[3 * i + c] = 0.7f * p[c];
      l.light2[3 * i + c] = 0.3f * p[c];
    }
    l.emission[i] = 0.1f * (p[0] + p[1] + p[2]);
    l.coverage[i] = p[3];
  }
  using ek::image::ExrSampleType;
  const auto half = ExrSampleType::kHalf;
  l.channels = ek::image::rgbaChannels(gImage.data(), half);
  l.channels.push_back({"Z", ExrSampleType::kFloat, l.depth.data(), 1, 0});
  l.channels.push_back({"forward.u", half, l.motion.data(), 1, 0});
  l.channels.push_back({"forward.v", half, l.motion.data() + pixels, 1, 0});
  for (std::size_t c = 0; c < 3; ++c) {
    l.channels.push_back({std::string("light1.") + "RGB"[c], half, l.light1.data() + c, 3, 0});
    l.channels.push_back({std::string("light2.") + "RGB"[c], half, l.light2.data() + c, 3, 0});
  }
  l.channels.push_back({"emission.Y", half, l.emission.data(), 1, 0});
  l.channels.push_back({"coverage.Y", ExrSampleType::kFloat, l.coverage.data(), 1, 0});
}

std::string threadsName(bool allCores) { return allCores ? "cores" : "1thread"; }

void saveLayered(benchmark::State &state, bool allCores) {
  const std::string path = outputPath("layers_ek_" + threadsName(allCores) + ".exr").string();
  ek::image::LayeredExrImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.channels = gLayers.channels;
  image.threads = allCores ? 0 : 1;
  for (auto _ : state) {
    removeUntimed(state, path);
    const auto result = ek::image::writeLayeredExr(path.c_str(), image);
    if (!result.ok()) {
      state.SkipWithError(result.message.c_str());
      break;
    }
  }
}

// OpenEXR writing the same channels from the same floats, with its thread pool off or one thread
// per core. OpenEXR takes half channels as halves: their conversion (Imath's half) is timed with
// the write, as the layered writer converts while it writes.
void openExrLayered(benchmark::State &state, bool allCores) {
  const std::string path = outputPath("layers_openexr_" + threadsName(allCores) + ".exr").string();
  const std::size_t pixels = static_cast<std::size_t>(kWidth) * kHeight;
  Imf::Header header(kWidth, kHeight);
  header.compression() = Imf::ZIP_COMPRESSION;
  Imf::FrameBuffer frame;
  std::vector<std::vector<Imath::half>> halves;
  halves.reserve(gLayers.channels.size());
  for (const ek::image::ExrChannel &channel : gLayers.channels) {
    if (channel.type == ek::image::ExrSampleType::kHalf) {
      halves.emplace_back(pixels);
      header.channels().insert(channel.name, Imf::Channel(Imf::HALF));
      frame.insert(channel.name,
                   Imf::Slice(Imf::HALF, reinterpret_cast<char *>(halves.back().data()),
                              sizeof(Imath::half), sizeof(Imath::half) * kWidth));
    } else {
      header.channels().insert(channel.name, Imf::Channel(Imf::FLOAT));
      frame.insert(channel.name,
                   Imf::Slice(Imf::FLOAT,
                              reinterpret_cast<char *>(const_cast<float *>(channel.pixels)),
                              sizeof(float) * channel.pixelStride,
                              sizeof(float) * channel.pixelStride * kWidth));
    }
  }
  const auto convert = [&] {
    std::size_t next = 0;
    for (const ek::image::ExrChannel &channel : gLayers.channels) {
      if (channel.type == ek::image::ExrSampleType::kHalf) {
        Imath::half *out = halves[next++].data();
        for (std::size_t i = 0; i < pixels; ++i) {
          out[i] = Imath::half(channel.pixels[i * channel.pixelStride]);
        }
      }
    }
  };
  const int threads = allCores ? static_cast<int>(std::thread::hardware_concurrency()) : 0;
  Imf::setGlobalThreadCount(threads);
  for (auto _ : state) {
    removeUntimed(state, path);
    convert();
    Imf::OutputFile file(path.c_str(), header, threads);
    file.setFrameBuffer(frame);
    file.writePixels(kHeight);
  }
  Imf::setGlobalThreadCount(0);
}

// Keeps the mean real time of every benchmark (milliseconds) for the summary.
class Collector : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        const double toMs = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        milliseconds[run.run_name.function_name].push_back(run.GetAdjustedRealTime() * toMs);
      }
    }
  }
  double best(const std::string &name) const {
    const auto found = milliseconds.find(name);
    if (found == milliseconds.end() || found->second.empty()) {
      return 0.0;
    }
    double result = found->second.front();
    for (double v : found->second) {
      result = v < result ? v : result;
    }
    return result;
  }
  std::map<std::string, std::vector<double>> milliseconds;
};

uintmax_t fileSize(const std::string &name) {
  std::error_code error;
  const uintmax_t size = fs::file_size(outputPath(name), error);
  return error ? 0 : size;
}

void printRatio(const Collector &c, const char *label, const std::string &ours,
                const std::string &baseline, const char *goal) {
  const double a = c.best(ours);
  const double b = c.best(baseline);
  std::printf("  %-44s %9.2f ms / %9.2f ms = %5.2fx  %s\n", label, a, b, b > 0 ? a / b : 0.0, goal);
}

} // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  if (!renderTestImage()) {
    return 1;
  }
  std::size_t covered = 0;
  for (std::size_t i = 3; i < gImage.size(); i += 4) {
    covered += gImage[i] != 0.0f || gImage[i - 1] != 0.0f;
  }
  std::printf("test image %dx%d, %.1f %% of pixels non-zero\n", kWidth, kHeight,
              100.0 * covered / (static_cast<double>(kWidth) * kHeight));

  std::error_code error;
  gDir = fs::temp_directory_path() / ("ek_bench_image_" + std::to_string(std::random_device{}()));
  fs::create_directories(gDir, error);

  const auto ms = benchmark::kMillisecond;
  benchmark::RegisterBenchmark("png8_ekSavePNG", savePng, false)->Unit(ms);
  benchmark::RegisterBenchmark("png8_compressor_only", compressOnly, false)->Unit(ms);
  benchmark::RegisterBenchmark("png8_libpng_default", libpngDefault, false)->Unit(ms);
  benchmark::RegisterBenchmark("png16_ekSavePNG", savePng, true)->Unit(ms);
  benchmark::RegisterBenchmark("png16_compressor_only", compressOnly, true)->Unit(ms);
  benchmark::RegisterBenchmark("png16_libpng_default", libpngDefault, true)->Unit(ms);
  benchmark::RegisterBenchmark("exr_ekSaveEXR", saveExr)->Unit(ms);
  benchmark::RegisterBenchmark("exr_fwrite_only", fwriteOnly)->Unit(ms);
#if defined(__linux__)
  benchmark::RegisterBenchmark("exr_fwrite_preallocated", fwritePreallocated)->Unit(ms);
#endif
  benchmark::RegisterBenchmark("exr_openexr_write", openExr, false)->Unit(ms);
  benchmark::RegisterBenchmark("exr_openexr_convert_write", openExr, true)->Unit(ms);
  makeLayers();
  for (bool allCores : {false, true}) {
    const std::string suffix = "_" + threadsName(allCores);
    benchmark::RegisterBenchmark(("layers_ek_zip" + suffix).c_str(), saveLayered, allCores)
        ->Unit(ms);
    benchmark::RegisterBenchmark(("layers_openexr_zip" + suffix).c_str(), openExrLayered, allCores)
        ->Unit(ms);
  }

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);

  std::printf("\nfastest run of each (ours / baseline):\n");
  printRatio(collector, "ekSavePNG 8 bit vs compressor alone", "png8_ekSavePNG",
             "png8_compressor_only", "(goal <= 1.2)");
  printRatio(collector, "ekSavePNG 8 bit vs libpng default", "png8_ekSavePNG",
             "png8_libpng_default", "(reference)");
  printRatio(collector, "ekSavePNG 16 bit vs compressor alone", "png16_ekSavePNG",
             "png16_compressor_only", "(goal <= 1.2)");
  printRatio(collector, "ekSavePNG 16 bit vs libpng default", "png16_ekSavePNG",
             "png16_libpng_default", "(reference)");
  printRatio(collector, "ekSaveEXR vs one fwrite of the same size", "exr_ekSaveEXR",
             "exr_fwrite_only", "(goal <= 1.5)");
#if defined(__linux__)
  printRatio(collector, "ekSaveEXR vs fallocate and one fwrite", "exr_ekSaveEXR",
             "exr_fwrite_preallocated", "(reference)");
#endif
  printRatio(collector, "ekSaveEXR vs OpenEXR writing ready halves", "exr_ekSaveEXR",
             "exr_openexr_write", "(goal < 1)");
  printRatio(collector, "ekSaveEXR vs OpenEXR converting and writing", "exr_ekSaveEXR",
             "exr_openexr_convert_write", "(goal < 1)");
  for (bool allCores : {false, true}) {
    const std::string suffix = "_" + threadsName(allCores);
    printRatio(collector,
               allCores ? "layers ZIP vs OpenEXR ZIP, one thread per core"
                        : "layers ZIP vs OpenEXR ZIP, one thread",
               "layers_ek_zip" + suffix, "layers_openexr_zip" + suffix, "(goal < 1)");
  }
  std::printf("\nlayered file sizes (bytes, %zu channels): ours %ju, OpenEXR %ju (goal: ours no "
              "larger)\n",
              gLayers.channels.size(), fileSize("layers_ek_cores.exr"),
              fileSize("layers_openexr_cores.exr"));
  std::printf("\nfile sizes (bytes): ek8.png %ju, libpng8.png %ju, ek16.png %ju, libpng16.png %ju,"
              " ek.exr %ju, openexr.exr %ju\n",
              fileSize("ek8.png"), fileSize("libpng8.png"), fileSize("ek16.png"),
              fileSize("libpng16.png"), fileSize("ek.exr"), fileSize("openexr.exr"));

  fs::remove_all(gDir, error);
  benchmark::Shutdown();
  return 0;
}
