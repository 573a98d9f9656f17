// ekrender: renders the procedural test cloud or a particle file to PNG or EXR, one image or a
// turntable sequence, on a CUDA device or the CPU.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "camera_setup.h"
#include "image/png_encode.h"
#include "options.h"
#include "particle_file.h"
#include "platform/program_files.h"
#include "progress.h"

namespace {

using namespace ekrender;

constexpr float kLightPerPixel = 0.15f; // brightness 1 spreads this much light per pixel

int fail(EKContext *context, const std::string &message) {
  std::fprintf(stderr, "ekrender: %s\n", message.c_str());
  ekDestroy(context);
  return 1;
}

// Opens the chosen device; "auto" falls back to the CPU when CUDA device 0 cannot be used.
EKContext *openDevice(const std::string &device, std::string &error) {
  if (device == "cpu")
    return ekCreate(EK_DEVICE_CPU);
  const int ordinal = device == "auto" ? 0 : std::stoi(device.substr(5));
  EKContext *context = ekCreate(ordinal);
  if (context && ekLastError(context)[0] != '\0') {
    const std::string reason = ekLastError(context);
    ekDestroy(context);
    if (device != "auto") {
      error = device + ": " + reason;
      return nullptr;
    }
    std::printf("no usable CUDA device (%s): rendering on the CPU\n", reason.c_str());
    context = ekCreate(EK_DEVICE_CPU);
  }
  if (!context)
    error = "cannot create a renderer context (out of memory)";
  return context;
}

bool loadParticles(EKContext *context, const Options &options, Bounds &bounds, bool &velocities,
                   std::string &error) {
  if (options.input.empty()) {
    velocities = options.shutter > 0;
    if (ekGenerateTestCloud(context, options.cloudCount, options.cloudSeed, velocities) != 0) {
      error = ekLastError(context);
      return false;
    }
    std::printf("particles: %llu (test cloud, seed %u)\n", (unsigned long long)options.cloudCount,
                options.cloudSeed);
    return true;
  }
  ParticleData data;
  if (!readParticleFile(options.input, data, error))
    return false;
  const uint64_t n = data.positions.size();
  velocities = !data.velocities.empty();
  if (ekReserve(context, n, velocities) != 0 ||
      (n > 0 &&
       ekUpload(context, data.positions.data(), data.colors.empty() ? nullptr : data.colors.data(),
                velocities ? data.velocities.data() : nullptr, n, 0) != 0) ||
      ekSetCount(context, n) != 0) {
    error = ekLastError(context);
    return false;
  }
  bounds = boundsOf(data.positions);
  std::printf("particles: %llu from %s%s%s\n", (unsigned long long)n, options.input.c_str(),
              data.colors.empty() ? "" : ", with colours", velocities ? ", with velocities" : "");
  return true;
}

EKRenderSettings settingsFor(const Options &options, uint64_t particles) {
  EKRenderSettings s{};
  s.width = options.width;
  s.height = options.height;
  s.repopulation = options.repopulation;
  s.radius = options.radius;
  const bool lens = options.aperture > 0 && options.focusDistance > 0;
  s.samples = options.samples > 0 ? options.samples : (lens || options.shutter > 0 ? 16 : 1);
  s.shutter = options.shutter;
  s.seed = options.seed;
  s.exposure = options.exposure;
  const double copies = double(options.repopulation + 1) * double(particles);
  s.brightness = float(kLightPerPixel * options.brightness * options.width * options.height /
                       (copies > 0 ? copies : 1.0));
  s.mode = options.volumetric ? EK_MODE_VOLUMETRIC : EK_MODE_ADDITIVE;
  s.density = options.density;
  s.emission = options.emission;
  std::copy(options.ambient, options.ambient + 3, s.ambient);
  s.scattering = options.scattering;
  s.shadowMapSize = options.shadowMapSize;
  s.shadowSlices = options.shadowSlices;
  s.cameraSlices = options.cameraSlices;
  return s;
}

std::string frameFileName(const std::string &output, int frame, int frames) {
  if (frames <= 1)
    return output;
  const size_t dot = output.find_last_of('.');
  const size_t slash = output.find_last_of('/');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  char number[16];
  std::snprintf(number, sizeof number, "_%04d", frame);
  return hasExtension ? output.substr(0, dot) + number + output.substr(dot) : output + number;
}

// The image is premultiplied, so laying it over black only makes every pixel opaque.
void overBlack(std::vector<float> &image) {
  for (size_t i = 3; i < image.size(); i += 4)
    image[i] = 1.0f;
}

// What makes the output impossible before anything is rendered, or empty: a PNG larger than the
// writer takes, or an output file that is the input file.
std::string outputProblem(const Options &options, OutputFormat format) {
  const bool png = format == OutputFormat::Png8 || format == OutputFormat::Png16;
  if (png &&
      !ek::image::pngSizeSupported(options.width, options.height, format == OutputFormat::Png16))
    return "a " + std::to_string(options.width) + "x" + std::to_string(options.height) +
           " image is too large for a PNG file: use a smaller --size or an .exr output";
  std::error_code error;
  if (options.input.empty() || !std::filesystem::exists(options.input, error))
    return std::string();
  for (int frame = 0; frame < options.frames; ++frame) {
    const std::string path = frameFileName(options.output, frame, options.frames);
    if (std::filesystem::equivalent(path, options.input, error))
      return "the output \"" + path + "\" is the input file: it would be overwritten";
  }
  return std::string();
}

bool save(const std::string &path, const Options &options, OutputFormat format,
          const std::vector<float> &image) {
  if (format == OutputFormat::Exr)
    return ekSaveEXR(path.c_str(), options.width, options.height, image.data()) == 0;
  return ekSavePNG(path.c_str(), options.width, options.height, image.data(),
                   format == OutputFormat::Png16) == 0;
}

int run(const std::vector<const char *> &texts) {
  Options options;
  std::string error;
  if (!parseOptions(int(texts.size()), texts.data(), options, error)) {
    std::fprintf(stderr, "ekrender: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(helpText().c_str(), stdout);
    return 0;
  }
  OutputFormat format;
  if (!outputFormat(options, format)) {
    std::fprintf(stderr,
                 "ekrender: cannot tell the format of \"%s\" (use .png or .exr, or "
                 "--format)\n",
                 options.output.c_str());
    return 2;
  }
  if (const std::string problem = outputProblem(options, format); !problem.empty()) {
    std::fprintf(stderr, "ekrender: %s\n", problem.c_str());
    return 2;
  }

  EKContext *context = openDevice(options.device, error);
  if (!context)
    return fail(nullptr, error);
  char info[256];
  if (ekDeviceInfo(context, info, sizeof info) != 0)
    return fail(context, ekLastError(context));
  std::printf("device: %s\n", info);
  if (options.info) {
    ekDestroy(context);
    return 0;
  }

  Bounds bounds;
  bool velocities = false;
  if (!loadParticles(context, options, bounds, velocities, error))
    return fail(context, error);
  if (options.shutter > 0 && !velocities)
    std::printf("note: the particles have no velocities, so --shutter blurs nothing\n");

  if (const std::string problem = cameraProblem(cameraFor(options, bounds, 0, options.frames));
      !problem.empty())
    return fail(context, problem);

  const EKRenderSettings settings = settingsFor(options, ekGetCount(context));
  std::printf("samples: %d per copy, %llu in all per frame\n", settings.samples,
              (unsigned long long)(ekGetCount(context) * uint64_t(settings.repopulation + 1) *
                                   uint64_t(settings.samples)));

  std::vector<float> image(size_t(options.width) * size_t(options.height) * 4);
  ProgressBar progress(options.frames, stderr);
  double renderMs = 0, deviceMs = 0;
  for (int frame = 0; frame < options.frames; ++frame) {
    const EKCamera camera = cameraFor(options, bounds, frame, options.frames);
    float gpuMs = 0;
    const auto start = std::chrono::steady_clock::now();
    if (ekRender(context, &camera, &settings, options.lights.data(), int(options.lights.size()),
                 nullptr, image.data(), &gpuMs) != 0)
      return fail(context, ekLastError(context));
    renderMs +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    deviceMs += gpuMs;
    if (!options.transparent)
      overBlack(image);
    const std::string path = frameFileName(options.output, frame, options.frames);
    if (!save(path, options, format, image))
      return fail(context, "could not write \"" + path + "\": " + std::strerror(errno));
    if (options.frames > 1)
      progress.update(frame + 1);
  }
  if (options.frames > 1)
    progress.finish();
  std::printf("render: %.1f ms per frame (device time %.1f ms)\n", renderMs / options.frames,
              deviceMs / options.frames);
  std::printf("wrote %s\n",
              options.frames > 1
                  ? (frameFileName(options.output, 0, options.frames) + " ... " +
                     frameFileName(options.output, options.frames - 1, options.frames))
                        .c_str()
                  : options.output.c_str());
  ekDestroy(context);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  // Every allocation of the run (the image, the particles read) may meet a full host memory.
  try {
    const std::vector<std::string> arguments = ek::platform::utf8Arguments(argc, argv);
    std::vector<const char *> texts;
    for (const std::string &argument : arguments) {
      texts.push_back(argument.c_str());
    }
    return run(texts);
  } catch (const std::bad_alloc &) {
    std::fputs("ekrender: out of host memory\n", stderr);
  }
  return 1;
}
