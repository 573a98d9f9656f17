#include "host/document.h"

#include "host/connection.h"
#include "host/host_ids.h"

namespace ek::host {

Value RenderSettings::parameter(int32_t id) const {
  HostValue raw{};
  if (call(&HostApi::renderDataGetParameter, handle_, id, &raw) == 0) {
    return Value();
  }
  return Value(raw);
}

std::optional<Document> Document::active() {
  HostDocument *handle = call(&HostApi::activeDocument);
  return handle ? std::optional<Document>(Document(handle)) : std::nullopt;
}

std::optional<Object> Document::activeViewCamera() const {
  HostView *view = call(&HostApi::documentActiveView, handle_);
  if (view == nullptr) {
    return std::nullopt;
  }
  HostObject *camera = call(&HostApi::viewSceneCamera, view, handle_);
  return camera ? std::optional<Object>(Object(camera)) : std::nullopt;
}

std::optional<RenderSettings> Document::renderSettings() const {
  HostRenderData *data = call(&HostApi::documentRenderData, handle_);
  return data ? std::optional<RenderSettings>(RenderSettings(data)) : std::nullopt;
}

int32_t Document::fps() const { return call(&HostApi::documentFps, handle_); }

TimeValue Document::time() const {
  TimeValue time;
  if (call(&HostApi::documentGetTime, handle_, &time.numerator, &time.denominator) == 0) {
    return TimeValue{};
  }
  return time;
}

void Document::setTime(const TimeValue &time) const {
  call(&HostApi::documentSetTime, handle_, time.numerator, time.denominator);
}

Value Document::parameter(int32_t id) const {
  HostValue raw{};
  if (call(&HostApi::documentGetParameter, handle_, id, &raw) == 0) {
    return Value();
  }
  return Value(raw);
}

std::string Document::text(int32_t id) const {
  return fetchText([&](char *buffer, int32_t size) {
           return call(&HostApi::documentGetText, handle_, id, buffer, size);
         })
      .value_or(std::string());
}

std::optional<Object> Document::firstObject() const {
  HostObject *first = call(&HostApi::documentFirstObject, handle_);
  return first ? std::optional<Object>(Object(first)) : std::nullopt;
}

std::optional<Object> Document::sceneHook(int32_t id) const {
  HostObject *hook = call(&HostApi::documentFindSceneHook, handle_, id);
  return hook ? std::optional<Object>(Object(hook)) : std::nullopt;
}

uint32_t Document::changeCount(uint32_t flags) const {
  return call(&HostApi::documentDirty, handle_, flags);
}

bool Document::executePasses(bool animation, bool expressions, bool caches) const {
  constexpr int32_t kNoThread = 0;
  return call(&HostApi::documentExecutePasses, handle_, kNoThread, animation ? 1 : 0,
              expressions ? 1 : 0, caches ? 1 : 0, document::kNoBuildFlags) != 0;
}

std::optional<OwnedDocument> Document::clone() const {
  HostDocument *copy = call(&HostApi::documentClone, handle_, document::kCloneFlagsDocument);
  return copy ? std::optional<OwnedDocument>(OwnedDocument(copy)) : std::nullopt;
}

OwnedDocument::OwnedDocument(HostDocument *handle) : handle_(handle) {}

void OwnedDocument::Free::operator()(HostDocument *handle) const {
  if (handle && connected()) {
    call(&HostApi::documentFree, handle);
  }
}

} // namespace ek::host
