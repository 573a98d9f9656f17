// Command-line options of ekrender.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emberkit.h"
#include "frame_range.h"

namespace ekrender {

enum class OutputFormat { FromExtension, Png8, Png16, Exr };

// Lights the renderer's volumetric look uses; --light refuses more.
constexpr size_t kMaxLights = 8;

struct Options {
  bool help = false;
  bool info = false;
  std::string device = "auto"; // auto, cpu or cuda:N
  std::string input;           // particle file; empty: the procedural test cloud
  uint64_t cloudCount = 1000000;
  uint32_t cloudSeed = 1;
  std::string output = "ekrender.png";
  OutputFormat format = OutputFormat::FromExtension;
  int width = 1920, height = 1080;

  bool eyeGiven = false, targetGiven = false;
  EKV3 eye{0, 0, 0}, target{0, 0, 0}, up{0, 1, 0};
  float fovY = 45;
  bool spherical = false;
  float lonMin = -180, lonMax = 180, latMin = -90, latMax = 90;
  float eyeOffset = 0, zeroParallax = 0, pivotOffset = 0;

  float brightness = 1, exposure = 1;
  int repopulation = 0;
  float radius = 1;
  int samples = 0; // 0: 1, or 16 when a lens or motion blur needs several
  float focusDistance = 0, aperture = 0;
  float shutter = 0;
  uint32_t seed = 1;
  bool seedGiven = false;
  int frames = 1; // above 1: a turntable sequence around the target

  // A sequence: --input names its files with a frame pattern, rendered from --start to --end.
  bool startGiven = false, endGiven = false;
  FrameRange range;
  int chunk = 0, chunks = 1; // the part of the frames this run renders
  bool chunkFromEnvironment = false;
  bool skipExisting = false, allowMissing = false;
  bool transparent = false; // keep the coverage alpha instead of a black background
  std::string layers;       // render layers beside the beauty, comma-separated; empty: none
  bool exrZip = true;       // layered EXR files ZIP-compressed, else stored as they are

  // The volumetric look.
  bool volumetric = false;
  float density = 1, emission = 0.05f, scattering = 0;
  float ambient[3] = {0.05f, 0.05f, 0.06f};
  int shadowMapSize = 512, shadowSlices = 64, cameraSlices = 32; // "medium"
  std::vector<EKLight> lights;
};

// Parses argv; on failure returns false with a message naming the offending option.
bool parseOptions(int argc, const char *const *argv, Options &options, std::string &error);
std::string helpText();

// What makes parsed options contradict each other (a range without a frame pattern, an end before
// the start, a chunk beyond the count, ...), or empty when nothing does.
std::string optionsProblem(const Options &options);

// A light from "TYPE[:key=value...]", e.g. "spot:pos=0,80,120:dir=0,-1,-1:color=3,3,3:cone=50,35".
bool parseLight(const std::string &text, EKLight &light, std::string &error);

// Resolved format (the extension decides unless a format was given); false for an unknown one.
bool outputFormat(const Options &options, OutputFormat &format);

} // namespace ekrender
