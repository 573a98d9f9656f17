// ekrender: renders the procedural test cloud, a particle file or a sequence of particle files to
// PNG or EXR, one image, a turntable or a frame sequence (or one chunk of it, for a render farm),
// on a CUDA device or the CPU.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "camera_setup.h"
#include "existing_image.h"
#include "frame_pattern.h"
#include "frame_range.h"
#include "frame_writer.h"
#include "interruption.h"
#include "memory_budget.h"
#include "options.h"
#include "particle_file.h"
#include "platform/program_files.h"
#include "progress.h"
#include "render_layers.h"

namespace {

using namespace ekrender;

constexpr float kLightPerPixel = 0.15f; // brightness 1 spreads this much light per pixel

// The frames being written, whose temporary files a signal that stops the run removes. It outlives
// main(), since a signal may come at any time.
WritesInProgress &writesInProgress() {
  static WritesInProgress *writes = new WritesInProgress;
  return *writes;
}

int fail(EKContext *context, const std::string &message) {
  std::fprintf(stderr, "ekrender: %s\n", message.c_str());
  ekDestroy(context);
  return 1;
}

// Opens the chosen device; "auto" falls back to the CPU when CUDA device 0 cannot be used.
EKContext *openDevice(const std::string &device, bool &onCpu, std::string &error) {
  onCpu = device == "cpu";
  if (onCpu)
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
    onCpu = true;
  }
  if (!context)
    error = "cannot create a renderer context (out of memory)";
  return context;
}

// Loads the particles of `input`, or the test cloud when it is empty.
bool loadParticles(EKContext *context, const Options &options, const std::string &input,
                   Bounds &bounds, bool &velocities, std::string &error) {
  if (input.empty()) {
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
  if (!readParticleFile(input, data, error))
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
  std::printf("particles: %llu from %s (%s)\n", (unsigned long long)n, input.c_str(),
              data.columns.c_str());
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

// One image of the run: the frame number, the particle file it shows (empty: the test cloud), the
// image file, and the turn of a turntable.
struct FrameJob {
  int number = 0;
  std::string input, output;
  int turn = 0;
};

// Every image the options ask for, before chunking.
std::vector<FrameJob> frameJobs(const Options &options) {
  const FramePattern images = outputPattern(options.output);
  std::vector<FrameJob> jobs;
  if (FramePattern inputs; findFramePattern(options.input, inputs)) {
    for (int frame : rangeFrames(options.range))
      jobs.push_back({frame, inputs.name(frame), images.name(frame), 0});
  } else if (options.frames > 1) {
    for (int turn = 0; turn < options.frames; ++turn)
      jobs.push_back({turn, options.input, images.name(turn), turn});
  } else {
    jobs.push_back({0, options.input, options.output, 0});
  }
  return jobs;
}

// The image is premultiplied, so laying it over black only makes every pixel opaque.
void overBlack(float *rgba, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i)
    rgba[4 * i + 3] = 1.0f;
}

// What makes the output impossible before anything is rendered, or empty: a PNG larger than the
// writer takes, or an output file that is the input file.
std::string outputProblem(const Options &options, OutputFormat format,
                          const std::vector<FrameJob> &jobs) {
  const bool png = format == OutputFormat::Png8 || format == OutputFormat::Png16;
  if (png && !ekPngSizeSupported(options.width, options.height, format == OutputFormat::Png16))
    return "a " + std::to_string(options.width) + "x" + std::to_string(options.height) +
           " image is too large for a PNG file: use a smaller --size or an .exr output";
  std::error_code error;
  for (const FrameJob &job : jobs)
    if (!job.input.empty() && std::filesystem::equivalent(job.output, job.input, error))
      return "the output \"" + job.output + "\" is the input file: it would be overwritten";
  return std::string();
}

// Writes a frame's buffer: the beauty alone, or with the plan's layers as one multi-layer EXR
// whose header carries the view of the camera that rendered it and, for a perspective camera, its
// projection.
bool save(const std::string &path, const Options &options, OutputFormat format,
          const LayerPlan &plan, const EKCamera &camera, const std::vector<float> &image) {
  if (!plan.empty()) {
    const std::vector<EKExrChannel> channels =
        plan.channels(image.data(), size_t(options.width) * size_t(options.height));
    const std::array<float, 16> toCamera = worldToCamera(camera);
    const std::optional<std::array<float, 16>> toNDC =
        worldToNDC(camera, options.width, options.height);
    return ekSaveLayeredEXR(path.c_str(), options.width, options.height, channels.data(),
                            int32_t(channels.size()),
                            options.exrZip ? EK_EXR_COMPRESSION_ZIP : EK_EXR_COMPRESSION_NONE,
                            toCamera.data(), toNDC ? toNDC->data() : nullptr) == 0;
  }
  if (format == OutputFormat::Exr)
    return ekSaveEXR(path.c_str(), options.width, options.height, image.data()) == 0;
  return ekSavePNG(path.c_str(), options.width, options.height, image.data(),
                   format == OutputFormat::Png16) == 0;
}

// The lens and shutter seed of a frame: a sequence frame's comes from its frame number (offset by
// --seed when given), so it does not matter which run or farm task renders it.
uint32_t seedFor(const Options &options, const FrameJob &job, bool sequence) {
  if (!sequence)
    return options.seed;
  return uint32_t(job.number) + (options.seedGiven ? options.seed : 0u);
}

// Renders one frame, the beauty and the plan's layers, into `image`; false with a message naming
// it.
bool renderFrame(EKContext *context, const Options &options, const LayerPlan &plan,
                 const FrameJob &job, bool sequence, std::vector<float> &image, bool reload,
                 Bounds &bounds, double &renderMs, std::string &error) {
  const std::string frame = sequence ? "frame " + std::to_string(job.number) + ": " : "";
  bool velocities = false;
  if (reload) {
    if (!loadParticles(context, options, job.input, bounds, velocities, error)) {
      error = frame + error;
      return false;
    }
    if (options.shutter > 0 && !velocities)
      std::printf("note: %sthe particles have no velocities, so --shutter blurs nothing\n",
                  frame.c_str());
  }
  const EKCamera camera = cameraFor(options, bounds, job.turn, options.frames);
  if (const std::string problem = cameraProblem(camera); !problem.empty()) {
    error = frame + problem;
    return false;
  }
  EKRenderSettings settings = settingsFor(options, ekGetCount(context));
  settings.seed = seedFor(options, job, sequence);
  const auto start = std::chrono::steady_clock::now();
  const size_t pixels = size_t(options.width) * size_t(options.height);
  const std::vector<EKLayer> layers = plan.records(image.data(), pixels);
  if (ekRenderLayers(context, &camera, &settings, options.lights.data(), int(options.lights.size()),
                     layers.data(), int32_t(layers.size()), nullptr, image.data(), nullptr) != 0) {
    error = frame + ekLastError(context);
    return false;
  }
  renderMs +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!options.transparent)
    overBlack(image.data(), pixels);
  return true;
}

int run(const ek::platform::Utf8Arguments &arguments) {
  Options options;
  std::string error;
  if (!parseOptions(arguments.count(), arguments.values(), options, error) ||
      (options.chunkFromEnvironment && !chunkFromEnvironment(options.chunk, error)) ||
      !(error = optionsProblem(options)).empty()) {
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
  LayerPlan plan;
  if (!options.layers.empty()) {
    if (format != OutputFormat::Exr) {
      std::fprintf(stderr,
                   "ekrender: --layers writes multi-layer EXR files: the output \"%s\" "
                   "must be .exr (or --format exr)\n",
                   options.output.c_str());
      return 2;
    }
    if (!planLayers(options.layers, options.volumetric, options.lights.size(), plan, error)) {
      std::fprintf(stderr, "ekrender: %s\n", error.c_str());
      return 2;
    }
  }
  const std::vector<FrameJob> all = frameJobs(options);
  const Span chunk = chunkOf(all.size(), options.chunk, options.chunks);
  const std::vector<FrameJob> jobs(all.begin() + long(chunk.first), all.begin() + long(chunk.last));
  if (const std::string problem = outputProblem(options, format, jobs); !problem.empty()) {
    std::fprintf(stderr, "ekrender: %s\n", problem.c_str());
    return 2;
  }

  bool onCpu = false;
  EKContext *context = openDevice(options.device, onCpu, error);
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
  // A sequence holds a second image while the first is written.
  const uint64_t needed =
      renderHostBytes(options, format, jobs.size() > 1 ? 2 : 1, plan.floatsPerPixel(), onCpu);
  if (const std::string shortfall =
          memoryShortfall(needed, "a " + std::to_string(options.width) + "x" +
                                      std::to_string(options.height) + " image");
      !shortfall.empty()) {
    std::fprintf(stderr, "ekrender: %s: use a smaller --size\n", shortfall.c_str());
    ekDestroy(context);
    return 2;
  }

  FramePattern inputs;
  const bool isSequence = findFramePattern(options.input, inputs);
  ProgressBar progress(int(jobs.size()), stderr);
  int done = 0;
  // Frame N is written on the writer's thread while frame N + 1 loads and renders here; the
  // writer reports each frame once its file is complete, in order.
  FrameWriter writer(size_t(options.width) * size_t(options.height) * plan.floatsPerPixel(),
                     [&](const std::string &event) {
                       if (jobs.size() > 1)
                         progress.update(++done, event);
                       else
                         std::printf("%s\n", event.c_str());
                     });
  // A failure ends the run once the frames before it are written; a failed write, being an
  // earlier frame's, is the one reported.
  auto stop = [&](std::string message) {
    if (std::string writeError; !writer.finish(writeError))
      message = writeError;
    return fail(context, message);
  };
  Bounds bounds;
  double renderMs = 0;
  int rendered = 0, kept = 0;
  for (const FrameJob &job : jobs) {
    if (writer.failed())
      break;
    std::error_code ignored;
    const std::string frame =
        isSequence || all.size() > 1 ? "frame " + std::to_string(job.number) + ": " : "";
    // An existing file is kept only when it is a whole image; one cut short is rendered again.
    std::string incomplete;
    if (options.skipExisting && std::filesystem::exists(job.output, ignored) &&
        (incomplete = incompleteImageReason(job.output, format)).empty()) {
      writer.note(frame + "kept " + job.output);
      ++kept;
    } else if (isSequence && options.allowMissing && !std::filesystem::exists(job.input, ignored)) {
      writer.note(frame + "skipped, no " + job.input);
    } else {
      std::vector<float> *image = writer.acquire();
      if (!image)
        break;
      const bool reload = isSequence || rendered == 0;
      if (!renderFrame(context, options, plan, job, isSequence, *image, reload, bounds, renderMs,
                       error)) {
        writer.release(image);
        return stop(error);
      }
      ++rendered;
      const EKCamera camera = cameraFor(options, bounds, job.turn, options.frames);
      writer.submit(
          image,
          [&options, &plan, format, camera, output = job.output,
           frame](const std::vector<float> &pixels, std::string &message) {
            const WritingFile writing(writesInProgress(), output);
            if (save(output, options, format, plan, camera, pixels))
              return true;
            message =
                frame + "could not write \"" + output + "\": " + std::strerror(ekLastWriteError());
            return false;
          },
          frame +
              (incomplete.empty()
                   ? ""
                   : "existing file was incomplete (" + incomplete + "), rendered again: ") +
              "wrote " + job.output);
    }
  }
  if (std::string writeError; !writer.finish(writeError))
    return fail(context, writeError);
  if (jobs.size() > 1)
    progress.finish();
  // Every frame skipped as missing is a job that did nothing: a wrong pattern or folder, most
  // likely, which must not pass for success.
  if (!jobs.empty() && rendered == 0 && kept == 0)
    return fail(context, "no input file exists for frames " + std::to_string(jobs.front().number) +
                             " to " + std::to_string(jobs.back().number) + " of \"" +
                             options.input + "\": nothing was rendered");
  if (rendered > 0)
    std::printf("render: %.1f ms per frame\n", renderMs / rendered);
  std::printf("frames: %d rendered, %zu skipped\n", rendered, jobs.size() - size_t(rendered));
  ekDestroy(context);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  ek::platform::flushOutputByLine();
  endCleanlyOnSignals(writesInProgress());
  // Every allocation of the run (the image, the particles read) may meet a full host memory.
  try {
    const ek::platform::Utf8Arguments arguments(argc, argv);
    return run(arguments);
  } catch (const std::bad_alloc &) {
    std::fputs("ekrender: out of host memory\n", stderr);
  }
  return 1;
}
