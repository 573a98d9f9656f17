#include "options.h"

#include <algorithm>
#include <iterator>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

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
       "particles from a .ply (ASCII or binary little-endian: x y z, optional red green blue "
       "alpha as bytes or 0..1 floats, optional vx vy vz) or .csv file (header row naming x,y,z "
       "and optionally r,g,b,a as 0..255 and vx,vy,vz); default: the procedural test cloud",
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
      {"--size", "WxH", "image size in pixels (default 1920x1080)",
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
         return true;
       }},
      {"--frames", "N", "render a turntable sequence of N frames around the target",
       intInto(o.frames, 1, 100000)},
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
       "pos=X,Y,Z dir=X,Y,Z color=R,G,B (intensity included, default 1,1,1) cone=OUTER[,INNER] "
       "(degrees, default 60,45) falloff=none|square|square1|linear|linear1|ramp|hard "
       "radius=R inner=R shadows=on|off (default on)",
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

bool parseOptions(int argc, const char *const *argv, Options &options, std::string &error) {
  std::vector<Option> table = optionTable(options);
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i], value;
    const size_t equals = name.find('=');
    const bool inlineValue = name.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inlineValue) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    const Option *option = nullptr;
    for (const Option &candidate : table)
      if (name == candidate.name)
        option = &candidate;
    if (!option) {
      error = "unknown option \"" + name + "\" (see --help)";
      return false;
    }
    if (option->argument && !inlineValue) {
      if (i + 1 >= argc) {
        error = name + " needs a value: " + option->argument;
        return false;
      }
      value = argv[++i];
    }
    if (!option->apply(value)) {
      error = name + " expects " + (option->argument ? option->argument : "no value") + ", got \"" +
              value + "\"";
      std::string detail;
      EKLight light;
      if (name == "--light" && !parseLight(value, light, detail))
        error += ": " + detail;
      else if (name == "--light")
        error = "--light: at most " + std::to_string(kMaxLights) + " lights are used; \"" + value +
                "\" would be one more";
      return false;
    }
  }
  return true;
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
  text += "\nexamples:\n  ekrender --output galaxy.png\n"
          "  ekrender --input examples/ring.csv --output ring.exr --repopulation 4 --radius 0.5\n"
          "  ekrender --frames 120 --output turn.png   (writes turn_0000.png ... turn_0119.png)\n"
          "  ekrender --volumetric --density 2 --light spot:pos=0,150,150:dir=0,-1,-1:color=4,4,4 "
          "--output lit.png\n";
  return text;
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
