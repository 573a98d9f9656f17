// A stand-in document: time, render settings, objects, the active view and the particles.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "scene/particles.h"
#include "scene/scene_object.h"

namespace standin {

// A point in time as a fraction of seconds.
struct Time {
  int64_t numerator = 0;
  int64_t denominator = 1;

  static Time ofFrame(int32_t frame, int32_t fps) { return {frame, fps > 0 ? fps : 1}; }
  // The frame at the rate, rounded down exactly (see ek::host::frameOfTime).
  int32_t frame(int32_t fps) const;
};

// A render size: whole pixels as usual, or a real number as a scene may carry one.
using RenderDimension = std::variant<int32_t, double>;

struct RenderSettings {
  RenderDimension width = 1280;
  RenderDimension height = 720;
  int32_t frameSequence = 0; // manual range unless one of the host's sequence values
  Time from;
  Time to;
  int32_t step = 1;
};

// Frame rate of a document's times and simulation when it reports a frame rate of 0.
constexpr int32_t kFallbackFps = 30;

class Document {
public:
  std::string fileName; // with suffix, for example "fountain.scn"; may be empty
  int32_t fps = 30;     // as the document reports it; may be 0 (see timeFps)
  Time minTime;
  Time maxTime = Time::ofFrame(90, 30);
  Time previewMin;
  Time previewMax = Time::ofFrame(90, 30);
  Time time;
  RenderSettings render;
  std::vector<std::unique_ptr<SceneObject>> objects;

  bool hasActiveView = true;
  // The view looks through the first object of this name, depth first; usually a camera.
  std::string activeCameraName;

  bool hasParticleHook = true;
  ParticleSystem particles;
  // A broken particle system, for tests of the plug-in's care: particle queries for indices at
  // or above particleQueriesFailFrom (when not -1) fail although "alive" answers 1 for them, and
  // the count reports extraReportedParticles more slots than exist, which fail the same way.
  int32_t particleQueriesFailFrom = -1;
  int32_t extraReportedParticles = 0;

  Document();

  // The frame rate that times and the simulation use: the reported one, or kFallbackFps when the
  // document reports 0, so that a document without a frame rate still has frames and particles.
  int32_t timeFps() const { return fps > 0 ? fps : kFallbackFps; }

  SceneObject &addObject(std::unique_ptr<SceneObject> object);
  SceneObject *findObject(const std::string &name) const;
  SceneObject *activeCamera() const { return findObject(activeCameraName); }

  // The counter that moves whenever the scene or its simulation changes.
  uint32_t changeCount() const { return changeCount_; }
  void markChanged() { ++changeCount_; }

  // Runs the animation passes once at the current time (see ParticleSystem::passTo): the plug-in's
  // ExecutePasses.
  void executePasses();
  // Plays the timeline from its start to the current time, every frame simulated in order: what
  // a user does before looking at a frame, and how scenes are loaded.
  void playToCurrentTime();

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
