#include "scene/scene_json.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "host/host_ids.h"
#include "scene/builders.h"
#include "utf8_path.h"

namespace standin {

namespace {

using nlohmann::json;
namespace ids = ek::host;

// Names the entry being read, so that every error says where it is.
class Reader {
public:
  Reader(const json &node, std::string where) : node_(node), where_(std::move(where)) {}

  // Fails on keys outside the list, which catches misspelt names.
  void allowOnly(std::initializer_list<const char *> keys) const {
    if (!node_.is_object()) {
      fail("must be an object");
    }
    for (const auto &item : node_.items()) {
      bool known = false;
      for (const char *key : keys) {
        known = known || item.key() == key;
      }
      if (!known) {
        fail("unknown key \"" + item.key() + "\"");
      }
    }
  }

  bool has(const char *key) const { return node_.contains(key) && !node_[key].is_null(); }
  Reader child(const char *key) const { return Reader(node_[key], where_ + "." + key); }
  const json &node() const { return node_; }
  const std::string &where() const { return where_; }

  double number(const char *key, double fallback) const {
    if (!has(key)) {
      return fallback;
    }
    if (!node_[key].is_number()) {
      fail(std::string(key) + " must be a number");
    }
    return node_[key].get<double>();
  }
  std::optional<double> optionalNumber(const char *key) const {
    return has(key) ? std::optional<double>(number(key, 0.0)) : std::nullopt;
  }
  // A whole number within [minimum, maximum]; larger ones are refused rather than cut.
  int64_t wholeNumber(const char *key, int64_t fallback, int64_t minimum, int64_t maximum) const {
    if (!has(key)) {
      return fallback;
    }
    const json &v = node_[key];
    const bool inRange =
        v.is_number_unsigned()
            ? v.get<uint64_t>() <= uint64_t(maximum)
            : v.is_number_integer() && v.get<int64_t>() >= minimum && v.get<int64_t>() <= maximum;
    if (!inRange) {
      fail(std::string(key) + " must be a whole number from " + std::to_string(minimum) + " to " +
           std::to_string(maximum));
    }
    return v.get<int64_t>();
  }
  int32_t integer(const char *key, int32_t fallback) const {
    return int32_t(wholeNumber(key, fallback, INT32_MIN, INT32_MAX));
  }
  bool boolean(const char *key, bool fallback) const {
    if (!has(key)) {
      return fallback;
    }
    if (!node_[key].is_boolean()) {
      fail(std::string(key) + " must be true or false");
    }
    return node_[key].get<bool>();
  }
  std::string text(const char *key, const std::string &fallback) const {
    if (!has(key)) {
      return fallback;
    }
    if (!node_[key].is_string()) {
      fail(std::string(key) + " must be a text");
    }
    return node_[key].get<std::string>();
  }
  Vec3 vector(const char *key, Vec3 fallback) const {
    if (!has(key)) {
      return fallback;
    }
    const json &v = node_[key];
    if (!v.is_array() || v.size() != 3 || !v[0].is_number() || !v[1].is_number() ||
        !v[2].is_number()) {
      fail(std::string(key) + " must be an array of three numbers");
    }
    return {v[0].get<double>(), v[1].get<double>(), v[2].get<double>()};
  }
  // A [minimum, maximum] pair; both stay as they are when the key is absent.
  void range(const char *key, double &minimum, double &maximum) const {
    if (!has(key)) {
      return;
    }
    const json &v = node_[key];
    if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number()) {
      fail(std::string(key) + " must be an array of two numbers");
    }
    minimum = v[0].get<double>();
    maximum = v[1].get<double>();
  }
  // A named value from the table, or its number.
  int32_t choice(const char *key, int32_t fallback,
                 const std::map<std::string, int32_t> &names) const {
    if (!has(key)) {
      return fallback;
    }
    if (node_[key].is_number()) {
      return integer(key, fallback);
    }
    const std::string name = text(key, "");
    auto found = names.find(name);
    if (found == names.end()) {
      std::string known;
      for (const auto &entry : names) {
        known += (known.empty() ? "" : ", ") + entry.first;
      }
      fail(std::string(key) + " \"" + name + "\" is none of: " + known);
    }
    return found->second;
  }

  [[noreturn]] void fail(const std::string &message) const {
    throw SceneError(where_ + ": " + message);
  }

private:
  const json &node_;
  std::string where_;
};

Color readColor(const Reader &r, const char *key, Color fallback) {
  const Vec3 v = r.vector(key, {fallback.red, fallback.green, fallback.blue});
  return {float(v.x), float(v.y), float(v.z)};
}

// Calls `read` with a reader for each entry of the array under `key`, if there is one.
template <typename Read> void forEachEntry(const Reader &r, const char *key, Read &&read) {
  if (!r.has(key)) {
    return;
  }
  const Reader list = r.child(key);
  if (!list.node().is_array()) {
    list.fail("must be an array");
  }
  for (size_t i = 0; i < list.node().size(); ++i) {
    read(Reader(list.node()[i], list.where() + "[" + std::to_string(i) + "]"));
  }
}

// Extra parameters by ID: integers, reals or three-number vectors.
void readParameters(const Reader &r, SceneObject &object) {
  if (!r.has("parameters")) {
    return;
  }
  const Reader p = r.child("parameters");
  if (!p.node().is_object()) {
    p.fail("must be an object of ID: value");
  }
  for (const auto &item : p.node().items()) {
    int32_t id = 0;
    try {
      id = std::stoi(item.key());
    } catch (const std::exception &) {
      p.fail("key \"" + item.key() + "\" is not a parameter ID");
    }
    const json &v = item.value();
    if (v.is_number_integer()) {
      object.parameters[id] = v.get<int64_t>();
    } else if (v.is_number()) {
      object.parameters[id] = v.get<double>();
    } else if (v.is_array() && v.size() == 3) {
      object.parameters[id] = p.vector(item.key().c_str(), {});
    } else {
      p.fail("value of " + item.key() + " must be a number or three numbers");
    }
  }
}

void readMerge(const Reader &r, const char *key, int32_t &mode, double &angle, double &exponent) {
  if (!r.has(key)) {
    return;
  }
  const Reader m = r.child(key);
  m.allowOnly({"mode", "angle", "exponent"});
  mode = m.integer("mode", mode);
  angle = m.number("angle", angle);
  exponent = m.number("exponent", exponent);
}

SphericalRig readSpherical(const Reader &r) {
  r.allowOnly({"enabled", "fullRange", "longitude", "latitude", "stereo", "layout", "eyeSeparation",
               "zeroParallax", "pivotOffset", "topMerge", "bottomMerge", "cubic"});
  SphericalRig s;
  s.enabled = r.boolean("enabled", s.enabled);
  s.fullRange = r.boolean("fullRange", s.fullRange);
  r.range("longitude", s.longitudeMin, s.longitudeMax);
  r.range("latitude", s.latitudeMin, s.latitudeMax);
  s.stereoMode = r.choice("stereo", 0,
                          {{"off", 0},
                           {"parallel", ids::camera::kStereoParallel},
                           {"toe-in", ids::camera::kStereoToeIn}});
  s.stereoLayout = r.choice("layout", 0,
                            {{"above-under", 0},
                             {"side-by-side", ids::camera::kLayoutSideBySide},
                             {"left", ids::camera::kLayoutLeftOnly},
                             {"right", ids::camera::kLayoutRightOnly}});
  s.eyeSeparation = r.number("eyeSeparation", s.eyeSeparation);
  s.zeroParallaxDistance = r.number("zeroParallax", s.zeroParallaxDistance);
  s.pivotOffset = r.number("pivotOffset", s.pivotOffset);
  readMerge(r, "topMerge", s.topMergeMode, s.topMergeAngle, s.topMergeExponent);
  readMerge(r, "bottomMerge", s.bottomMergeMode, s.bottomMergeAngle, s.bottomMergeExponent);
  s.cubic = r.boolean("cubic", s.cubic);
  return s;
}

// A global matrix given as its offset and axes; axes left out keep the unit axes.
Matrix readMatrix(const Reader &r) {
  r.allowOnly({"offset", "x", "y", "z"});
  Matrix m;
  m.offset = r.vector("offset", m.offset);
  m.axisX = r.vector("x", m.axisX);
  m.axisY = r.vector("y", m.axisY);
  m.axisZ = r.vector("z", m.axisZ);
  return m;
}

std::unique_ptr<SceneObject> readCamera(const Reader &r) {
  r.allowOnly({"type", "name", "eye", "target", "up", "matrix", "focalLength", "apertureWidth",
               "projection", "focusDistance", "fNumber", "spherical", "parameters", "children"});
  CameraSetup desc;
  desc.name = r.text("name", desc.name);
  desc.eye = r.vector("eye", desc.eye);
  desc.target = r.vector("target", desc.target);
  desc.up = r.vector("up", desc.up);
  if (r.has("matrix")) {
    if (r.has("eye") || r.has("target") || r.has("up")) {
      r.fail("give either matrix or eye, target and up");
    }
    desc.matrix = readMatrix(r.child("matrix"));
  }
  desc.focalLength = r.number("focalLength", desc.focalLength);
  desc.apertureWidth = r.number("apertureWidth", desc.apertureWidth);
  desc.projection =
      r.choice("projection", desc.projection,
               {{"perspective", 0}, {"spherical", ids::camera::kProjectionSpherical}});
  desc.focusDistance = r.optionalNumber("focusDistance");
  desc.fNumber = r.optionalNumber("fNumber");
  if (r.has("spherical")) {
    desc.spherical = readSpherical(r.child("spherical"));
  }
  return makeCamera(desc);
}

// The light's enable parameter: true or false store the integer 1 or 0, a number is stored as a
// real, and "missing" leaves the parameter out.
std::optional<ParameterValue> readEnabled(const Reader &r) {
  if (!r.has("enabled")) {
    return ParameterValue(int64_t(1));
  }
  const json &v = r.node()["enabled"];
  if (v.is_boolean()) {
    return ParameterValue(int64_t(v.get<bool>() ? 1 : 0));
  }
  if (v.is_number()) {
    return ParameterValue(v.get<double>());
  }
  if (v.is_string() && v.get<std::string>() == "missing") {
    return std::nullopt;
  }
  r.fail("enabled must be true, false, a number or \"missing\"");
}

std::unique_ptr<SceneObject> readLight(const Reader &r) {
  r.allowOnly({"type", "name", "lightType", "position", "target", "color", "intensity",
               "outerAngle", "innerAngle", "falloff", "radius", "innerRadius", "shadows", "enabled",
               "on", "parameters", "children"});
  namespace lit = ids::light;
  LightSetup desc;
  desc.name = r.text("name", desc.name);
  desc.lightType = r.choice("lightType", lit::kTypeOmni,
                            {{"omni", lit::kTypeOmni},
                             {"spot", lit::kTypeSpot},
                             {"square-spot", lit::kTypeSquareSpot},
                             {"infinite", lit::kTypeInfinite},
                             {"parallel", lit::kTypeParallel},
                             {"parallel-spot", lit::kTypeParallelSpot},
                             {"square-parallel-spot", lit::kTypeSquareParallelSpot},
                             {"tube", lit::kTypeTube},
                             {"area", lit::kTypeArea}});
  desc.position = r.vector("position", desc.position);
  if (r.has("target")) {
    desc.target = r.vector("target", {});
  }
  desc.color = r.vector("color", desc.color);
  desc.intensity = r.number("intensity", desc.intensity);
  desc.outerAngle = r.optionalNumber("outerAngle");
  desc.innerAngle = r.optionalNumber("innerAngle");
  desc.falloff = r.choice("falloff", lit::kFalloffNone,
                          {{"none", lit::kFalloffNone},
                           {"step", lit::kFalloffStep},
                           {"inverse-clamped", lit::kFalloffInverseClamped},
                           {"inverse-square-clamped", lit::kFalloffInverseSquareClamped},
                           {"linear", lit::kFalloffLinear},
                           {"inverse", lit::kFalloffInverse},
                           {"inverse-square", lit::kFalloffInverseSquare}});
  desc.falloffRadius = r.number("radius", desc.falloffRadius);
  desc.falloffInner = r.number("innerRadius", desc.falloffInner);
  desc.shadows = r.boolean("shadows", desc.shadows);
  desc.enabled = readEnabled(r);
  desc.switchedOn = r.boolean("on", desc.switchedOn);
  return makeLight(desc);
}

// Deepest nesting of objects a scene may have, counting the top level as 1. It keeps the object
// tree, and every walk over it, to a bounded depth of recursion.
constexpr int kMaxObjectDepth = 100;

std::unique_ptr<SceneObject> readObject(const Reader &r, int depth) {
  if (depth > kMaxObjectDepth) {
    r.fail("objects nest deeper than " + std::to_string(kMaxObjectDepth) +
           " levels, more than a scene may have");
  }
  const std::string type = r.text("type", "");
  std::unique_ptr<SceneObject> object;
  if (type == "camera") {
    object = readCamera(r);
  } else if (type == "light") {
    object = readLight(r);
  } else if (type == "null") {
    r.allowOnly({"type", "name", "position", "parameters", "children"});
    object = std::make_unique<SceneObject>(kTypeNull, r.text("name", "Null"));
    object->matrix.offset = r.vector("position", {});
  } else {
    r.fail("type must be \"camera\", \"light\" or \"null\"");
  }
  readParameters(r, *object);
  forEachEntry(r, "children",
               [&](const Reader &entry) { object->addChild(readObject(entry, depth + 1)); });
  return object;
}

// Particles a scene's emitters may give over its frames. The simulation keeps a slot for every
// particle ever born, so this bounds its memory (about 1.5 GB) and its time.
constexpr double kMaxBirths = 20000000.0;

Emitter readEmitter(const Reader &r) {
  r.allowOnly({"position", "size", "rate", "life", "velocity", "spread", "speedVariation",
               "gravity", "colorStart", "colorEnd", "firstFrame", "lastFrame"});
  Emitter e;
  e.position = r.vector("position", e.position);
  e.halfSize = r.vector("size", e.halfSize);
  e.rate = r.number("rate", e.rate);
  e.lifeFrames = r.integer("life", e.lifeFrames);
  e.velocity = r.vector("velocity", e.velocity);
  e.spreadDegrees = r.number("spread", e.spreadDegrees);
  e.speedVariation = r.number("speedVariation", e.speedVariation);
  e.gravity = r.vector("gravity", e.gravity);
  e.startColor = readColor(r, "colorStart", e.startColor);
  e.endColor = readColor(r, "colorEnd", readColor(r, "colorStart", e.endColor));
  e.firstFrame = r.integer("firstFrame", e.firstFrame);
  e.lastFrame = r.integer("lastFrame", e.lastFrame);
  if (e.lifeFrames < 1) {
    r.fail("life must be at least 1 frame");
  }
  if (!std::isfinite(e.rate) || e.rate < 0.0) {
    r.fail("rate must be a number of births per second, at least 0");
  }
  return e;
}

// A particle of the fixed list: it keeps these values on every frame.
Particle readFixedParticle(const Reader &r) {
  r.allowOnly({"position", "velocity", "color", "alive"});
  Particle p;
  p.position = r.vector("position", p.position);
  p.velocity = r.vector("velocity", p.velocity);
  p.color = readColor(r, "color", p.color);
  p.alive = r.boolean("alive", p.alive);
  return p;
}

void readParticles(const Reader &r, Document &document) {
  r.allowOnly({"seed", "list", "emitters"});
  ParticleSystem &system = document.particles;
  system.seed = uint32_t(r.wholeNumber("seed", system.seed, 0, UINT32_MAX));
  forEachEntry(r, "list",
               [&](const Reader &entry) { system.fixed.push_back(readFixedParticle(entry)); });
  forEachEntry(r, "emitters",
               [&](const Reader &entry) { system.emitters.push_back(readEmitter(entry)); });
}

// A render size: whole numbers stay whole, others are kept as reals.
RenderDimension readDimension(const Reader &r, const char *key, RenderDimension fallback) {
  if (!r.has(key)) {
    return fallback;
  }
  if (r.node()[key].is_number_integer()) {
    return r.integer(key, 0);
  }
  return r.number(key, 0.0);
}

void readRender(const Reader &r, Document &document) {
  r.allowOnly({"width", "height", "frameSequence", "fromFrame", "toFrame", "step"});
  namespace rd = ids::render_data;
  RenderSettings &s = document.render;
  s.width = readDimension(r, "width", s.width);
  s.height = readDimension(r, "height", s.height);
  s.frameSequence = r.choice("frameSequence", s.frameSequence,
                             {{"manual", 0},
                              {"current", rd::kSequenceCurrentFrame},
                              {"all", rd::kSequenceAllFrames},
                              {"preview", rd::kSequencePreviewRange}});
  const int32_t fps = document.timeFps();
  s.from = Time::ofFrame(r.integer("fromFrame", s.from.frame(fps)), fps);
  s.to = Time::ofFrame(r.integer("toFrame", s.to.frame(fps)), fps);
  s.step = r.integer("step", s.step);
}

std::unique_ptr<Document> readDocument(const Reader &r) {
  r.allowOnly({"name", "fps", "minFrame", "maxFrame", "previewMinFrame", "previewMaxFrame", "frame",
               "render", "activeCamera", "activeView", "particleHook", "particleHookType",
               "particles", "objects"});
  auto document = std::make_unique<Document>();
  Document &d = *document;
  d.fileName = r.text("name", d.fileName);
  d.fps = r.integer("fps", d.fps);
  if (d.fps < 0) {
    r.fail("fps cannot be negative");
  }
  const int32_t fps = d.timeFps(); // a document that reports 0 keeps its times at 30 fps
  const int32_t minFrame = r.integer("minFrame", 0);
  const int32_t maxFrame = r.integer("maxFrame", 90);
  d.minTime = Time::ofFrame(minFrame, fps);
  d.maxTime = Time::ofFrame(maxFrame, fps);
  d.previewMin = Time::ofFrame(r.integer("previewMinFrame", minFrame), fps);
  d.previewMax = Time::ofFrame(r.integer("previewMaxFrame", maxFrame), fps);
  d.time = Time::ofFrame(r.integer("frame", minFrame), fps);
  d.render.from = d.minTime;
  d.render.to = d.maxTime;
  if (r.has("render")) {
    readRender(r.child("render"), d);
  }
  d.activeCameraName = r.text("activeCamera", "");
  d.hasActiveView = r.boolean("activeView", true);
  d.hasParticleHook = r.boolean("particleHook", true);
  d.particleHook.type = r.integer("particleHookType", d.particleHook.type);
  if (r.has("particles")) {
    readParticles(r.child("particles"), d);
    const double births = d.particles.birthsBetween(minFrame, maxFrame, fps);
    if (births > kMaxBirths) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "the emitters would give %.3g particles from frame %d to %d, more than the "
                    "stand-in's limit of %.0f",
                    births, minFrame, maxFrame, kMaxBirths);
      r.child("particles").fail(text);
    }
  }
  forEachEntry(r, "objects", [&](const Reader &entry) { d.addObject(readObject(entry, 1)); });
  if (!d.activeCameraName.empty() && d.activeCamera() == nullptr) {
    r.fail("activeCamera \"" + d.activeCameraName + "\" names no object of the scene");
  }
  return document;
}

} // namespace

std::unique_ptr<Document> parseScene(const std::string &text, const std::string &sourceName) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception &e) {
    // Syntax errors, and numbers beyond a double (out_of_range) alike.
    throw SceneError(sourceName + ": not valid JSON: " + e.what());
  }
  return readDocument(Reader(root, sourceName));
}

std::unique_ptr<Document> loadSceneFile(const std::filesystem::path &file) {
  std::error_code ignored;
  if (std::filesystem::is_directory(file, ignored)) {
    throw SceneError(file.string() + ": is a folder, not a scene file");
  }
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    throw SceneError(utf8FromPath(file) + ": cannot be opened" +
                     (errno != 0 ? std::string(" (") + std::strerror(errno) + ")" : ""));
  }
  std::ostringstream content;
  content << in.rdbuf();
  return parseScene(content.str(), utf8FromPath(file));
}

} // namespace standin
