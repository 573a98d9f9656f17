#include "scene/document.h"

#include "host/host_ids.h"
#include "host/time_frame.h"

namespace standin {

int32_t Time::frame(int32_t fps) const {
  return ek::host::frameOfTime(numerator, denominator, fps);
}

Document::Document() : particleHook(ek::host::library::kThinkingParticles, "Thinking Particles") {}

SceneObject &Document::addObject(std::unique_ptr<SceneObject> object) {
  objects.push_back(std::move(object));
  markChanged();
  return *objects.back();
}

SceneObject *Document::findObject(const std::string &name) const {
  SceneObject *found = nullptr;
  forEachObject(objects, [&](const SceneObject &object) {
    if (!found && object.name == name) {
      found = const_cast<SceneObject *>(&object);
    }
  });
  return found;
}

void Document::executePasses() {
  const int32_t rate = timeFps();
  if (particles.passTo(time.frame(rate), rate, minTime.frame(rate))) {
    markChanged();
  }
}

void Document::playToCurrentTime() {
  const int32_t rate = timeFps();
  if (particles.simulateTo(time.frame(rate), rate, minTime.frame(rate))) {
    markChanged();
  }
}

std::unique_ptr<Document> Document::clone() const {
  auto copy = std::make_unique<Document>();
  copy->fileName = fileName;
  copy->fps = fps;
  copy->minTime = minTime;
  copy->maxTime = maxTime;
  copy->previewMin = previewMin;
  copy->previewMax = previewMax;
  copy->time = time;
  copy->render = render;
  for (const auto &object : objects) {
    copy->objects.push_back(object->clone());
  }
  copy->hasActiveView = hasActiveView;
  copy->activeCameraName = activeCameraName;
  copy->hasParticleHook = hasParticleHook;
  copy->particles = particles;
  copy->particleQueriesFailFrom = particleQueriesFailFrom;
  copy->extraReportedParticles = extraReportedParticles;
  copy->particleHook.type = particleHook.type;
  copy->changeCount_ = changeCount_;
  return copy;
}

} // namespace standin
