#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <iterator>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <vector>

#include "closest_name.h"
#include "config_file.h"
#include "frame_pattern.h"

namespace ekrender {

namespace {

bool parseFloat(const std::string &text, float &value) {
  char *end = nullptr;
  const float parsed = std::strtof(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(parsed))
    return false;
  value = parsed;
  return true;
}

bool parseInteger(const std::string &text, long long minimum, long long maximum, long long &value) {
  char *end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || parsed < minimum || parsed > maximum)
    return false;
  value = parsed;
  return true;
}

// "a,b,c" with exactly `count` numbers.
bool parseFloats(const std::string &text, float *values, int count) {
  size_t start = 0;
  for (int k = 0; k < count; ++k) {
    const size_t comma = text.find(',', start);
    const bool last = k == count - 1;
    if (last != (comma == std::string::npos))
      return false;
    if (!parseFloat(text.substr(start, last ? std::string::npos : comma - start), values[k]))
      return false;
    start = comma + 1;
  }
  return true;
}

// Why "R,G,B" is no light colour, or empty when it is one: a component beyond a float's range (the
// renderer would refuse the light as not finite), a negative one (a light adds light; it would take
// it away and write negative pixels), or text that is no number.
std::string colorProblem(const std::string &text) {
  size_t start = 0;
  for (int k = 0; k < 3; ++k) {
    const size_t comma = text.find(',', start);
    const std::string part = text.substr(start, comma == std::string::npos ? comma : comma - start);
    char *end = nullptr;
    const double value = std::strtod(part.c_str(), &end);
    if (part.empty() || end != part.c_str() + part.size())
      break;
    if (!(std::fabs(value) <= FLT_MAX))
      return "color " + part + " is beyond a float's range (at most 3.4e38)";
    if (value < 0)
      return "color " + part + " is negative: a light adds light and cannot take it away";
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  float color[3];
  return parseFloats(text, color, 3) ? std::string()
                                     : "bad value for light key \"color\": \"" + text + "\"";
}

struct Option {
  const char *name;
  const char *argument; // null for a flag
  const char *help;
  std::function<bool(const std::string &)> apply;
};

std::vector<Option> optionTable(Options &o) {
  auto floatInto = [](float &target) {
    return [&target](const std::string &v) { return parseFloat(v, target); };
  };
  auto vectorInto = [](EKV3 &target, bool *given) {
    return [&target, given](const std::string &v) {
      float xyz[3];
      if (!parseFloats(v, xyz, 3))
        return false;
      target = {xyz[0], xyz[1], xyz[2]};
      if (given)
        *given = true;
      return true;
    };
  };
  auto intInto = [](int &target, long long minimum, long long maximum) {
    return [&target, minimum, maximum](const std::string &v) {
      long long parsed;
      if (!parseInteger(v, minimum, maximum, parsed))
        return false;
      target = int(parsed);
      return true;
    };
  };
  return {
      {"--help", nullptr, "show this text", [&o](const std::string &) { return o.help = true; }},
      {"--info", nullptr, "print the device that would render, then stop",
       [&o](const std::string &) { return o.info = true; }},
      {"--device", "auto|cpu|cuda:N",
       "where to render; auto tries CUDA device 0 and falls back to the CPU (default auto)",
       [&o](const std::string &v) {
         long long n;
         o.device = v;
         return v == "auto" || v == "cpu" ||
                (v.rfind("cuda:", 0) == 0 && parseInteger(v.substr(5), 0, 1024, n));
       }},
      {"--input", "FILE",
       "particles from a file, or a sequence of files named with a frame pattern: a run of # is "
       "the zero-padded frame number (cache.####.ply), and $F4 ($F: unpadded) is accepted too. "
       "Files: a .ply (ASCII or binary little-endian: x y z, optional red green blue "
       "alpha as bytes or 0..1 floats, optional vx vy vz) or .csv file (separated by commas, "
       "semicolons or tabs, fields quoted or not; a header row naming the "
       "columns, quoted or not: x or Points:0 or P[x] or P.x or px; r or red or Cd[r] or RGB:0, "
       "0..1 or 0..255 as the values tell; vx or v[x] or Velocity:0; other columns, text or "
       "numbers, are ignored); "
       "default: the procedural test cloud",
       [&o](const std::string &v) { return !(o.input = v).empty(); }},
      {"--count", "N", "particles of the test cloud (default 1000000)",
       [&o](const std::string &v) {
         long long n;
         if (!parseInteger(v, 0, (1LL << 40), n))
           return false;
         o.cloudCount = uint64_t(n);
         return true;
       }},
      {"--cloud-seed", "N", "seed of the test cloud (default 1)",
       [&o](const std::string &v) {
         long long n;
         if (!parseInteger(v, 0, 0xFFFFFFFFLL, n))
           return false;
         o.cloudSeed = uint32_t(n);
         return true;
       }},
      {"--output", "FILE",
       "image to write, .png or .exr (default ekrender.png); a sequence appends _%04d",
       [&o](const std::string &v) { return !(o.output = v).empty(); }},
      {"--transparent", nullptr,
       "keep the particles' coverage as alpha (default: an opaque black background)",
       [&o](const std::string &) { return o.transparent = true; }},
      {"--layers", "LIST",
       "render layers to write beside the beauty, comma-separated: coverage, raw, depth, "
       "forward, backward, motion (both), emission, and for the volumetric look ambient, lights "
       "(one per light) or light1 .. lightN. Each frame becomes one multi-layer EXR file, so the "
       "output must be .exr; its header holds the camera's worldToCamera matrix and, for the "
       "perspective camera (not --spherical), its worldToNDC projection",
       [&o](const std::string &v) { return !(o.layers = v).empty(); }},
      {"--exr-compression", "zip|none",
       "compression of the multi-layer EXR files of --layers (default zip)",
       [&o](const std::string &v) {
         if (v != "zip" && v != "none")
           return false;
         o.exrZip = v == "zip";
         return true;
       }},
      {"--format", "png8|png16|exr", "file format when the extension should not decide",
       [&o](const std::string &v) {
         if (v == "png8")
           o.format = OutputFormat::Png8;
         else if (v == "png16")
           o.format = OutputFormat::Png16;
         else if (v == "exr")
           o.format = OutputFormat::Exr;
         else
           return false;
         return true;
       }},
      {"--size", "WxH",
       "image size in pixels (default 1920x1080); a size whose images the memory cannot hold is "
       "refused before rendering",
       [&o](const std::string &v) {
         const size_t x = v.find('x');
         long long w, h;
         if (x == std::string::npos || !parseInteger(v.substr(0, x), 1, 32768, w) ||
             !parseInteger(v.substr(x + 1), 1, 32768, h))
           return false;
         o.width = int(w);
         o.height = int(h);
         return true;
       }},
      {"--eye", "X,Y,Z", "camera position (default: framing the particles)",
       vectorInto(o.eye, &o.eyeGiven)},
      {"--target", "X,Y,Z", "point looked at (default: the particles' centre)",
       vectorInto(o.target, &o.targetGiven)},
      {"--up", "X,Y,Z", "up direction (default 0,1,0)", vectorInto(o.up, nullptr)},
      {"--fov", "DEGREES",
       "vertical field of view of the perspective camera, above 0 and below 180 (default 45)",
       [&o](const std::string &v) {
         float degrees;
         if (!parseFloat(v, degrees) || !(degrees > 0 && degrees < 180))
           return false;
         o.fovY = degrees;
         return true;
       }},
      {"--spherical", "LONMIN,LONMAX,LATMIN,LATMAX",
       "latitude-longitude camera over the given degrees, e.g. -180,180,-90,90",
       [&o](const std::string &v) {
         float r[4];
         if (!parseFloats(v, r, 4))
           return false;
         o.spherical = true;
         o.lonMin = r[0];
         o.lonMax = r[1];
         o.latMin = r[2];
         o.latMax = r[3];
         return true;
       }},
      {"--stereo-eye", "OFFSET",
       "spherical stereo: signed half eye separation (positive right eye, negative left)",
       floatInto(o.eyeOffset)},
      {"--zero-parallax", "DISTANCE", "spherical stereo: distance where the eyes converge",
       floatInto(o.zeroParallax)},
      {"--pivot-offset", "DISTANCE", "spherical stereo: forward offset of the eye circle",
       floatInto(o.pivotOffset)},
      {"--brightness", "B",
       "brightness; 1 spreads a fixed amount of light over the image whatever the particle "
       "count (default 1)",
       floatInto(o.brightness)},
      {"--exposure", "E", "exposure of the tone curve (default 1)", floatInto(o.exposure)},
      {"--repopulation", "N", "extra Gaussian copies per particle (default 0)",
       intInto(o.repopulation, 0, 1000)},
      {"--radius", "R", "spread of the copies in scene units (default 1)", floatInto(o.radius)},
      {"--samples", "N",
       "samples per copy for the lens and motion blur (default 16 when one "
       "of them is on, else 1)",
       intInto(o.samples, 1, 4096)},
      {"--focus", "DISTANCE", "depth of field: distance of sharp focus",
       floatInto(o.focusDistance)},
      {"--aperture", "RADIUS", "depth of field: lens radius in scene units", floatInto(o.aperture)},
      {"--shutter", "FRAMES", "motion blur over this many frames of the particles' velocities",
       floatInto(o.shutter)},
      {"--seed", "N", "seed of the lens and shutter samples (default 1)",
       [&o](const std::string &v) {
         long long n;
         if (!parseInteger(v, 0, 0xFFFFFFFFLL, n))
           return false;
         o.seed = uint32_t(n);
         o.seedGiven = true;
         return true;
       }},
      {"--frames", "N", "render a turntable sequence of N frames around the target",
       intInto(o.frames, 1, 100000)},
      {"--start", "FRAME", "first frame of a sequence whose --input has a frame pattern",
       [&o, intInto](const std::string &v) {
         return o.startGiven = intInto(o.range.start, -1000000, 1000000)(v);
       }},
      {"--end", "FRAME", "last frame of the sequence (included)",
       [&o, intInto](const std::string &v) {
         return o.endGiven = intInto(o.range.end, -1000000, 1000000)(v);
       }},
      {"--step", "N", "render every Nth frame from --start (default 1)",
       intInto(o.range.step, 1, 1000000)},
      {"--chunks", "COUNT",
       "split the frames into COUNT contiguous chunks of nearly equal size, for a render farm "
       "(default 1)",
       intInto(o.chunks, 1, 1000000)},
      {"--chunk", "INDEX|env",
       "render only chunk INDEX (from 0) of --chunks; \"env\" takes it from SLURM_ARRAY_TASK_ID "
       "(counted from SLURM_ARRAY_TASK_MIN) or a Kubernetes indexed job's JOB_COMPLETION_INDEX",
       [&o, intInto](const std::string &v) {
         o.chunkFromEnvironment = v == "env";
         return o.chunkFromEnvironment || intInto(o.chunk, 0, 1000000)(v);
       }},
      {"--skip-existing", nullptr,
       "leave frames whose image exists alone, so a failed farm job can be resubmitted (images "
       "are written under a temporary name and renamed; an existing file that is not a whole "
       "image, empty or cut short, is rendered again)",
       [&o](const std::string &) { return o.skipExisting = true; }},
      {"--allow-missing", nullptr,
       "skip sequence frames whose input file does not exist (default: an error); a run that "
       "finds none of them still fails",
       [&o](const std::string &) { return o.allowMissing = true; }},
      {"--volumetric", nullptr,
       "the volumetric look: particles as a lit medium with density and shadows (default: the "
       "additive glow)",
       [&o](const std::string &) { return o.volumetric = true; }},
      {"--density", "D", "volumetric: extinction density (default 1)", floatInto(o.density)},
      {"--emission", "E", "volumetric: self-illumination (default 0.05)", floatInto(o.emission)},
      {"--ambient", "R,G,B", "volumetric: ambient light (default 0.05,0.05,0.06)",
       [&o](const std::string &v) { return parseFloats(v, o.ambient, 3); }},
      {"--scattering", "G",
       "volumetric: anisotropy from -0.95 (back) to 0.95 (forward scattering), default 0",
       floatInto(o.scattering)},
      {"--shadows", "low|medium|high", "volumetric: shadow-map quality (default medium)",
       [&o](const std::string &v) {
         if (v == "low") {
           o.shadowMapSize = 256, o.shadowSlices = 32, o.cameraSlices = 16;
         } else if (v == "medium") {
           o.shadowMapSize = 512, o.shadowSlices = 64, o.cameraSlices = 32;
         } else if (v == "high") {
           o.shadowMapSize = 1024, o.shadowSlices = 96, o.cameraSlices = 48;
         } else {
           return false;
         }
         return true;
       }},
      {"--light", "TYPE[:key=value...]",
       "volumetric: add a light (up to 8). TYPE is point, spot or directional; keys: "
       "pos=X,Y,Z dir=X,Y,Z color=R,G,B (intensity included, default 1,1,1; each at least 0 "
       "and at most 3.4e38, a float's range) cone=OUTER[,INNER] (degrees, default 60,45) "
       "falloff=none|square|square1|linear|linear1|ramp|hard radius=R inner=R shadows=on|off "
       "(default on)",
       [&o](const std::string &v) {
         EKLight light;
         std::string ignored;
         if (o.lights.size() == kMaxLights || !parseLight(v, light, ignored))
           return false;
         o.lights.push_back(light);
         return true;
       }},
  };
}

} // namespace

bool parseLight(const std::string &text, EKLight &light, std::string &error) {
  light = {};
  light.color[0] = light.color[1] = light.color[2] = 1;
  light.outerAngle = 60;
  light.innerAngle = 45;
  light.castsShadows = 1;
  light.direction = {0, -1, 0};
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? colon : colon - start));
    if (colon == std::string::npos)
      break;
    start = colon + 1;
  }
  static const char *types[] = {"point", "spot", "directional"};
  light.type = -1;
  for (int t = 0; t < 3; ++t)
    if (parts[0] == types[t])
      light.type = t;
  if (light.type < 0) {
    error = "unknown light type \"" + parts[0] + "\" (point, spot or directional)";
    return false;
  }
  static const char *falloffs[] = {"none",    "square", "square1", "linear",
                                   "linear1", "ramp",   "hard"};
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t equals = parts[i].find('=');
    const std::string key = parts[i].substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : parts[i].substr(equals + 1);
    bool ok;
    if (key == "pos" || key == "dir") {
      float v[3] = {};
      ok = parseFloats(value, v, 3);
      (key == "pos" ? light.position : light.direction) = {v[0], v[1], v[2]};
    } else if (key == "color") {
      if (error = colorProblem(value); !error.empty())
        return false;
      ok = parseFloats(value, light.color, 3);
    } else if (key == "cone") {
      // "OUTER,INNER", or "OUTER" with the inner cone at three quarters of it.
      float v[2] = {};
      const bool both = value.find(',') != std::string::npos;
      ok = both ? parseFloats(value, v, 2) : parseFloat(value, v[0]);
      light.outerAngle = v[0];
      light.innerAngle = both ? v[1] : 0.75f * v[0];
    } else if (key == "falloff") {
      const auto *found = std::find(std::begin(falloffs), std::end(falloffs), value);
      ok = found != std::end(falloffs);
      light.falloff = int32_t(found - std::begin(falloffs));
    } else if (key == "radius") {
      ok = parseFloat(value, light.falloffRadius);
    } else if (key == "inner") {
      ok = parseFloat(value, light.falloffInner);
    } else if (key == "shadows") {
      ok = value == "on" || value == "off";
      light.castsShadows = value == "on";
    } else {
      error = "unknown light key \"" + key + "\"";
      return false;
    }
    if (!ok) {
      error = "bad value for light key \"" + key + "\": \"" + value + "\"";
      return false;
    }
  }
  return true;
}

namespace {

constexpr const char *kConfigHelp =
    "read options from a settings file, TOML when its name ends in .toml, else INI: one "
    "\"name = value\" line per option, the name without its dashes, at the top of the file or "
    "under [ekrender] (size = \"640x360\", transparent = true, light = [\"point\", "
    "\"spot:pos=0,9,0\"]); comments start at # (in INI at a # after a space, so that "
    "cache.####.ply stays whole, or at ;); TOML quotes its text values; a name, value or line the "
    "reader cannot use stops the run naming the file and line; the command line overrides the "
    "file";

// What a refused value is told: the option and what it expects, or why a light is refused.
std::string refusal(const Option &option, const std::string &value) {
  if (std::string(option.name) == "--light") {
    EKLight light;
    std::string detail;
    if (!parseLight(value, light, detail))
      return "--light \"" + value + "\": " + detail;
    return "--light: at most " + std::to_string(kMaxLights) + " lights are used; \"" + value +
           "\" would be one more";
  }
  return std::string(option.name) + " expects " + option.argument + ", got \"" + value + "\"";
}

// Options that add a value each time they are given; any other takes one value, the last given.
bool takesSeveral(const Option &option) { return std::string(option.name) == "--light"; }

const Option *findOption(const std::vector<Option> &table, const std::string &name) {
  for (const Option &option : table)
    if (option.name == "--" + name)
      return &option;
  return nullptr;
}

std::string unknownSetting(const std::string &key, const std::vector<Option> &table) {
  std::vector<std::string> names;
  for (const Option &option : table)
    names.push_back(option.name + 2);
  const std::string closest = closestName(key, names);
  return "unknown option \"" + key + "\" (" +
         (closest.empty() ? "see --help" : "did you mean \"" + closest + "\"?") + ")";
}

// Sets the options of a settings file that the command line leaves unset. Every entry is checked
// either way: one the command line overrides is tried on `scratch`.
bool applyConfigFile(const std::string &path, const std::vector<Option> &table,
                     const std::vector<Option> &scratch, const CLI::App &app, std::string &error) {
  std::vector<ConfigEntry> entries;
  if (!readConfigFile(path, "ekrender", entries, error))
    return false;
  std::map<std::string, int> firstLines;
  for (const ConfigEntry &entry : entries) {
    const auto problem = [&](const std::string &message) {
      error = path + ":" + std::to_string(entry.line) + ": " + message;
      return false;
    };
    const Option *option = findOption(table, entry.key);
    if (!option)
      return problem(unknownSetting(entry.key, table));
    const auto first = firstLines.emplace(entry.key, entry.line);
    if (!first.second && !takesSeveral(*option))
      return problem("\"" + entry.key + "\" is set a second time (first on line " +
                     std::to_string(first.first->second) + ")");
    const bool overridden = app.get_option(option->name)->count() > 0;
    const Option &target = (overridden ? scratch : table)[size_t(option - table.data())];
    if (!option->argument) {
      // A flag: true or false (in any case, or yes/no, on/off, 1/0), or an INI name alone for true.
      static const std::vector<std::string> on = {"true", "yes", "on", "1"},
                                            off = {"false", "no", "off", "0"};
      std::string value = entry.values.empty() ? "true" : entry.values.front();
      std::transform(value.begin(), value.end(), value.begin(),
                     [](unsigned char c) { return char(std::tolower(c)); });
      const bool isOn = std::find(on.begin(), on.end(), value) != on.end();
      if (entry.list || entry.values.size() > 1 ||
          !(isOn || std::find(off.begin(), off.end(), value) != off.end()))
        return problem("\"" + entry.key + "\" is true or false, not \"" + value + "\"");
      if (isOn)
        target.apply("");
      continue;
    }
    if (entry.values.empty())
      return problem("\"" + entry.key + "\" needs a value (" + entry.key + " = " +
                     option->argument + ")");
    if (entry.list && !takesSeveral(*option))
      return problem("\"" + entry.key + "\" takes one value, not a list");
    for (const std::string &value : entry.values)
      if (!target.apply(value))
        return problem(refusal(*option, value));
  }
  return true;
}

} // namespace

bool parseOptions(int argc, const char *const *argv, Options &options, std::string &error) {
  const std::vector<Option> table = optionTable(options);
  CLI::App app("ekrender");
  app.set_help_flag(); // --help is in the table, so that helpText() describes it with the rest
  std::string configPath;
  app.add_option("--config", configPath, kConfigHelp)->type_name("FILE");
  for (const Option &option : table) {
    if (!option.argument) {
      app.add_flag_callback(
          option.name, [&option] { option.apply(""); }, option.help);
      continue;
    }
    // Every occurrence is applied in order: the last one wins, and each --light adds a light.
    app.add_option(
           option.name,
           [&option](const CLI::results_t &values) {
             for (const std::string &value : values)
               if (!option.apply(value))
                 throw CLI::ValidationError(refusal(option, value));
             return true;
           },
           option.help)
        ->type_name(option.argument)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ExtrasError &) {
    error = "unknown option \"" + app.remaining().front() + "\" (see --help)";
    return false;
  } catch (const CLI::ParseError &e) {
    error = e.what();
    return false;
  }
  Options unused;
  return configPath.empty() || applyConfigFile(configPath, table, optionTable(unused), app, error);
}

std::string helpText() {
  Options scratch;
  std::string text =
      "ekrender: renders particles with the emberkit renderer, without any host application.\n"
      "\nusage: ekrender [options]\n\nWithout --input it renders the procedural test cloud (a "
      "spiral galaxy).\n\noptions:\n";
  for (const Option &option : optionTable(scratch)) {
    std::string head = std::string("  ") + option.name;
    if (option.argument)
      head += std::string(" ") + option.argument;
    text += head + "\n      " + option.help + "\n";
  }
  text += std::string("  --config FILE\n      ") + kConfigHelp + "\n";
  text += "\nexit status: 0 when every frame was written or skipped, 1 when one failed or none "
          "was rendered, 2 for a bad command line, a bad settings file or an image size the memory "
          "cannot hold. SIGTERM, SIGINT or SIGHUP end the run after removing the temporary file of "
          "a frame being written.\n";
  text += "\nexamples:\n  ekrender --output galaxy.png\n"
          "  ekrender --input examples/ring.csv --output ring.exr --repopulation 4 --radius 0.5\n"
          "  ekrender --frames 120 --output turn.png   (writes turn_0000.png ... turn_0119.png)\n"
          "  ekrender --volumetric --density 2 --light spot:pos=0,150,150:dir=0,-1,-1:color=4,4,4 "
          "--output lit.png\n"
          "  ekrender --input cache.####.ply --start 1 --end 24 --output frames/smoke.png "
          "(writes smoke_0001.png ...)\n"
          "  ekrender --config job.ini --chunks 4 --chunk env --skip-existing   (one farm task)\n";
  return text;
}

std::string optionsProblem(const Options &options) {
  FramePattern pattern;
  const bool sequence = findFramePattern(options.input, pattern);
  if (sequence && !(options.startGiven && options.endGiven))
    return "the frame pattern of --input \"" + options.input + "\" needs --start and --end";
  if (!sequence && (options.startGiven || options.endGiven))
    return "--start and --end need an --input whose name has a frame pattern (#### or $F4), not "
           "\"" +
           options.input + "\"";
  if (sequence && options.frames > 1)
    return "--frames turns the camera around one input; a frame pattern renders a sequence";
  if (options.range.end < options.range.start)
    return "the range ends (--end " + std::to_string(options.range.end) +
           ") before it starts (--start " + std::to_string(options.range.start) + ")";
  if (options.chunk >= options.chunks)
    return "chunk " + std::to_string(options.chunk) + " is out of range: --chunks " +
           std::to_string(options.chunks) + " numbers them 0 to " +
           std::to_string(options.chunks - 1);
  return std::string();
}

bool outputFormat(const Options &options, OutputFormat &format) {
  if (options.format != OutputFormat::FromExtension) {
    format = options.format;
    return true;
  }
  const size_t dot = options.output.find_last_of('.');
  std::string extension = dot == std::string::npos ? "" : options.output.substr(dot + 1);
  for (char &c : extension)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png")
    format = OutputFormat::Png8;
  else if (extension == "exr")
    format = OutputFormat::Exr;
  else
    return false;
  return true;
}

} // namespace ekrender
