// A stand-in document: time, render settings, objects, the active view and the particles.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scene/particles.h"
#include "scene/scene_object.h"

namespace standin {

// A point in time as a fraction of seconds.
struct Time {
  int64_t numerator = 0;
  int64_t denominator = 1;

  static Time ofFrame(int32_t frame, int32_t fps) { return {frame, fps > 0 ? fps : 1}; }
  // The frame at the rate, rounded down.
  int32_t frame(int32_t fps) const;
};

struct RenderSettings {
  int32_t width = 1280;
  int32_t height = 720;
  int32_t frameSequence = 0; // manual range unless one of the host's sequence values
  Time from;
  Time to;
  int32_t step = 1;
};

class Document {
public:
  std::string fileName; // with suffix, for example "fountain.scn"; may be empty
  int32_t fps = 30;
  Time minTime;
  Time maxTime = Time::ofFrame(90, 30);
  Time previewMin;
  Time previewMax = Time::ofFrame(90, 30);
  Time time;
  RenderSettings render;
  std::vector<std::unique_ptr<SceneObject>> objects;

  bool hasActiveView = true;
  std::string activeCameraName; // the view looks through the first camera of this name

  bool hasParticleHook = true;
  ParticleSystem particles;

  Document();

  SceneObject &addObject(std::unique_ptr<SceneObject> object);
  SceneObject *findCamera(const std::string &name) const;
  SceneObject *activeCamera() const { return findCamera(activeCameraName); }

  // The counter that moves whenever the scene or its simulation changes.
  uint32_t changeCount() const { return changeCount_; }
  void markChanged() { ++changeCount_; }

  // Runs the animation passes: the particles are simulated up to the current frame.
  void executePasses();

  // A deep copy with the same particle state; handles are not copied.
  std::unique_ptr<Document> clone() const;

  // Handles the host gave the document, its view, its render settings and its particle hook.
  uintptr_t handle = 0;
  uintptr_t viewHandle = 0;
  uintptr_t renderDataHandle = 0;
  // The particle system's scene hook; its type is the particle library's ID unless a scene asks
  // for another one.
  SceneObject particleHook;

private:
  uint32_t changeCount_ = 0;
};

} // namespace standin
