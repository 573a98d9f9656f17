// The render layers ekrender writes beside the beauty (--layers): which the list names, where each
// lies in a frame's buffer, and the channels of the multi-layer EXR file that holds them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "emberkit.h"

namespace ekrender {

// One layer of the list, as the renderer makes it and the file names it.
struct RenderLayer {
  int32_t kind = EK_LAYER_DEPTH; // EK_LAYER_...
  int32_t light = 0;             // EK_LAYER_LIGHT: the light's index in the render's lights
  // The file's channel names, one for each of the layer's channels: "Z", "forward.u", "light1.R".
  std::vector<std::string> channelNames;
  int32_t sampleType = EK_EXR_HALF; // EK_EXR_HALF for colours, EK_EXR_FLOAT for measures
};

// A frame's buffer holds the beauty's RGBA (four floats a pixel) followed by each layer's pixels
// in list order, so one buffer carries a whole frame from the render to the file.
struct LayerPlan {
  std::vector<RenderLayer> layers;

  bool empty() const { return layers.empty(); }
  // Floats a pixel takes in a frame's buffer: 4 for the beauty and the channels of every layer.
  size_t floatsPerPixel() const;
  // The records ekRenderLayers fills, pointing into `frame` (a buffer of `pixels` pixels).
  std::vector<EKLayer> records(float *frame, size_t pixels) const;
  // The file's channels, the beauty's "R", "G", "B", "A" (half) first, read from `frame`.
  std::vector<EKExrChannel> channels(const float *frame, size_t pixels) const;
};

// Reads a comma-separated list of layer names (coverage, raw, depth, forward, backward, motion for
// both, emission, ambient, lights for one per light, light1 .. lightN) for the look at hand: the
// volumetric one or the additive one, and `lights` lights. A layer named twice (motion and
// forward) is made once. False with a message for an unknown name and a layer the look lacks.
bool planLayers(const std::string &list, bool volumetric, size_t lights, LayerPlan &plan,
                std::string &error);

} // namespace ekrender
