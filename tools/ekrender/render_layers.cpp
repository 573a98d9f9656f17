#include "render_layers.h"

#include <algorithm>

namespace ekrender {

namespace {

const char kLayerNames[] =
    "coverage, raw, depth, forward, backward, motion, emission, ambient, lights, light1 .. lightN";

// A layer whose channels are "<prefix>.<letter>" for each letter, or the bare letters when the
// prefix is empty. Colours are stored as half floats, which hold them to a compositor's needs;
// measures (depth, coverage, the raw sum with its headroom, motion in pixels) as floats.
RenderLayer layerOf(int32_t kind, int32_t light, const std::string &prefix, const char *letters,
                    int32_t sampleType) {
  RenderLayer layer;
  layer.kind = kind;
  layer.light = light;
  layer.sampleType = sampleType;
  for (const char *letter = letters; *letter != '\0'; ++letter)
    layer.channelNames.push_back(prefix.empty() ? std::string(1, *letter) : prefix + "." + *letter);
  return layer;
}

RenderLayer lightLayer(size_t index) {
  return layerOf(EK_LAYER_LIGHT, int32_t(index), "light" + std::to_string(index + 1), "RGB",
                 EK_EXR_HALF);
}

// "light<N>" with N a whole number from 1 without leading zeros; 0 for any other name.
size_t lightNumber(const std::string &name) {
  if (name.size() < 6 || name.compare(0, 5, "light") != 0 || name[5] == '0' || name.size() > 12)
    return 0;
  size_t number = 0;
  for (size_t i = 5; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9')
      return 0;
    number = number * 10 + size_t(name[i] - '0');
  }
  return number;
}

// The layers one name of the list stands for; false with a message when it stands for none.
bool layersNamed(const std::string &name, bool volumetric, size_t lights,
                 std::vector<RenderLayer> &named, std::string &error) {
  if (name == "coverage")
    named = {layerOf(EK_LAYER_COVERAGE, 0, "coverage", "Y", EK_EXR_FLOAT)};
  else if (name == "raw")
    named = {layerOf(EK_LAYER_RAW, 0, "raw", "RGB", EK_EXR_FLOAT)};
  else if (name == "depth")
    named = {layerOf(EK_LAYER_DEPTH, 0, "", "Z", EK_EXR_FLOAT)};
  else if (name == "forward" || name == "backward" || name == "motion") {
    named.clear();
    if (name != "backward")
      named.push_back(layerOf(EK_LAYER_FORWARD, 0, "forward", "uv", EK_EXR_FLOAT));
    if (name != "forward")
      named.push_back(layerOf(EK_LAYER_BACKWARD, 0, "backward", "uv", EK_EXR_FLOAT));
  } else if (name == "emission")
    named = {layerOf(EK_LAYER_EMISSION, 0, "emission", "RGB", EK_EXR_HALF)};
  else if (name == "ambient" || name == "lights" || lightNumber(name) > 0) {
    if (!volumetric) {
      error = "the additive look has no " + name + " layer (the volumetric look has)";
      return false;
    }
    if (name == "ambient") {
      named = {layerOf(EK_LAYER_AMBIENT, 0, "ambient", "RGB", EK_EXR_HALF)};
      return true;
    }
    if (lights == 0) {
      error = "layer " + name + ": the render has no lights (add them with --light)";
      return false;
    }
    const size_t number = lightNumber(name);
    if (number > lights) {
      error = "layer " + name + ": the render has " + std::to_string(lights) +
              (lights == 1 ? " light" : " lights");
      return false;
    }
    named.clear();
    for (size_t i = 0; i < lights; ++i)
      if (number == 0 || number == i + 1)
        named.push_back(lightLayer(i));
  } else {
    error = "unknown layer \"" + name + "\" (layers: " + kLayerNames + ")";
    return false;
  }
  return true;
}

} // namespace

size_t LayerPlan::floatsPerPixel() const {
  size_t floats = 4;
  for (const RenderLayer &layer : layers)
    floats += layer.channelNames.size();
  return floats;
}

std::vector<EKLayer> LayerPlan::records(float *frame, size_t pixels) const {
  std::vector<EKLayer> records;
  float *next = frame + 4 * pixels;
  for (const RenderLayer &layer : layers) {
    records.push_back({layer.kind, layer.light, next});
    next += layer.channelNames.size() * pixels;
  }
  return records;
}

std::vector<EKExrChannel> LayerPlan::channels(const float *frame, size_t pixels) const {
  static const char *const kBeauty[] = {"R", "G", "B", "A"};
  std::vector<EKExrChannel> channels;
  for (int c = 0; c < 4; ++c)
    channels.push_back({kBeauty[c], EK_EXR_HALF, 4, frame + c, 0});
  const float *next = frame + 4 * pixels;
  for (const RenderLayer &layer : layers) {
    const int32_t stride = int32_t(layer.channelNames.size());
    for (int32_t c = 0; c < stride; ++c)
      channels.push_back(
          {layer.channelNames[size_t(c)].c_str(), layer.sampleType, stride, next + c, 0});
    next += size_t(stride) * pixels;
  }
  return channels;
}

bool planLayers(const std::string &list, bool volumetric, size_t lights, LayerPlan &plan,
                std::string &error) {
  plan.layers.clear();
  size_t start = 0;
  while (start <= list.size()) {
    const size_t comma = std::min(list.find(',', start), list.size());
    const std::string name = list.substr(start, comma - start);
    start = comma + 1;
    if (name.empty()) {
      error = "--layers \"" + list + "\" has an empty name";
      return false;
    }
    std::vector<RenderLayer> named;
    if (!layersNamed(name, volumetric, lights, named, error))
      return false;
    for (RenderLayer &layer : named) {
      const bool known = std::any_of(plan.layers.begin(), plan.layers.end(), [&](const auto &l) {
        return l.kind == layer.kind && l.light == layer.light;
      });
      if (!known)
        plan.layers.push_back(std::move(layer));
    }
  }
  return true;
}

} // namespace ekrender
