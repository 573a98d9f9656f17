// Host documents, their active view and their render settings.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/host_api.h"
#include "host/object.h"
#include "host/value.h"

namespace ek::host {

class OwnedDocument;

// The active render settings of a document.
class RenderSettings {
public:
  explicit RenderSettings(HostRenderData *handle) : handle_(handle) {}
  Value parameter(int32_t id) const;

private:
  HostRenderData *handle_;
};

// A plain reference to a document the host (or an OwnedDocument) keeps alive.
class Document {
public:
  explicit Document(HostDocument *handle) : handle_(handle) {}

  // The document the user works on; absent when there is none.
  static std::optional<Document> active();

  // The scene camera of the document's active view; absent without a view or camera.
  std::optional<Object> activeViewCamera() const;
  std::optional<RenderSettings> renderSettings() const;
  int32_t fps() const;
  TimeValue time() const;
  void setTime(const TimeValue &time) const;
  Value parameter(int32_t id) const;
  std::string text(int32_t id) const;
  std::optional<Object> firstObject() const;
  std::optional<Object> sceneHook(int32_t id) const;
  // Counter that moves whenever something named by the flags changes (host::document flags).
  uint32_t changeCount(uint32_t flags) const;
  // Runs the animation passes on the main thread with the given parts switched on.
  bool executePasses(bool animation, bool expressions, bool caches) const;
  std::optional<OwnedDocument> clone() const;

  HostDocument *handle() const { return handle_; }
  bool operator==(const Document &other) const { return handle_ == other.handle_; }

private:
  HostDocument *handle_;
};

// A document copy that is freed with this value.
class OwnedDocument {
public:
  explicit OwnedDocument(HostDocument *handle);
  Document document() const { return Document(handle_.get()); }

private:
  struct Free {
    void operator()(HostDocument *handle) const;
  };
  std::unique_ptr<HostDocument, Free> handle_;
};

} // namespace ek::host
