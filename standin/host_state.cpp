#include "host_state.h"

#include <algorithm>

#include "plugin_call.h"

namespace standin {

namespace {

// Background of a user area before the plug-in draws it, so that undrawn pixels stand out.
constexpr Rgb kUndrawnArea{64, 64, 64};

} // namespace

HostState::HostState(HostOptions hostOptions)
    : options(std::move(hostOptions)) {
  api = makeHostApi(instance, options.apiLevel);
}

double HostState::now() const {
  if (callbackDepth == 0 || !options.clockFollowsWork) {
    return clockMs;
  }
  const auto worked = std::chrono::steady_clock::now() - callbackStart;
  return clockMs + std::chrono::duration<double, std::milli>(worked).count();
}

void HostState::recordMisuse(const char *operation, const std::string &what) {
  misuses.push_back(std::string(operation) + ": " + what);
}

void HostState::recordWrongThread(const char *operation) {
  recordMisuse(operation, "called from a thread other than the main thread");
}

Document &HostState::addDocument(std::unique_ptr<Document> document) {
  Document &d = *document;
  documents.push_back(std::move(document));
  d.handle = documentHandles.add(&d, handles);
  d.viewHandle = viewHandles.add(&d, handles);
  d.renderDataHandle = renderDataHandles.add(&d, handles);
  d.particleHook.handle = particleHookHandles.add(&d, handles);
  objects[d.particleHook.handle] = ObjectSlot{&d.particleHook, nullptr, 0, &d};
  registerObjects(&d, d.objects);
  return d;
}

void HostState::removeDocument(Document &document) {
  unregisterObjects(document);
  objects.erase(document.particleHook.handle);
  documentHandles.remove(document.handle);
  viewHandles.remove(document.viewHandle);
  renderDataHandles.remove(document.renderDataHandle);
  particleHookHandles.remove(document.particleHook.handle);
  pluginDocuments.erase(&document);
  if (activeDocument == &document) {
    activeDocument = nullptr;
  }
  std::erase_if(documents, [&](const auto &d) { return d.get() == &document; });
}

void HostState::refreshObjects(Document &document) {
  unregisterObjects(document);
  registerObjects(&document, document.objects);
}

uintptr_t HostState::adoptObject(std::unique_ptr<SceneObject> object) {
  SceneObject &o = *object;
  o.handle = handles.next();
  objects[o.handle] = ObjectSlot{&o, nullptr, 0, nullptr};
  registerObjects(nullptr, o.children); // children of a clone are reachable through it
  const uintptr_t handle = o.handle;
  pluginObjects[handle] = std::move(object);
  return handle;
}

void HostState::registerObjects(Document *owner,
                                const std::vector<std::unique_ptr<SceneObject>> &list) {
  for (size_t i = 0; i < list.size(); ++i) {
    SceneObject &o = *list[i];
    o.handle = handles.next();
    objects[o.handle] = ObjectSlot{&o, &list, i, owner};
    registerObjects(owner, o.children);
  }
}

void HostState::unregisterObjects(const Document &document) {
  std::erase_if(objects, [&](const auto &entry) {
    return entry.second.owner == &document && entry.second.object != &document.particleHook;
  });
}

Document *HostState::document(HostDocument *handle, const char *operation) {
  Document *d = documentHandles.find(handle);
  if (!d) {
    recordMisuse(operation, "unknown or freed document");
  }
  return d;
}

ObjectSlot *HostState::object(HostObject *handle, const char *operation) {
  auto found = objects.find(reinterpret_cast<uintptr_t>(handle));
  if (found == objects.end()) {
    recordMisuse(operation, "unknown or freed object");
    return nullptr;
  }
  return &found->second;
}

DialogWindow *HostState::dialog(HostDialog *handle, const char *operation) {
  DialogWindow *w = dialogHandles.find(handle);
  if (!w) {
    recordMisuse(operation, "unknown or freed dialog");
  }
  return w;
}

Control *HostState::control(DialogWindow &window, int32_t id, const char *operation) {
  Control *c = window.find(id);
  if (!c) {
    recordMisuse(operation, "unknown control ID " + std::to_string(id));
  }
  return c;
}

UserAreaState *HostState::userArea(HostUserArea *handle, const char *operation) {
  UserAreaState *area = userAreaHandles.find(handle);
  if (!area) {
    recordMisuse(operation, "unknown or outdated user area");
  }
  return area;
}

RgbImage *HostState::bitmap(HostBitmap *handle, const char *operation) {
  auto found = bitmaps.find(reinterpret_cast<uintptr_t>(handle));
  if (found == bitmaps.end()) {
    recordMisuse(operation, "unknown or freed bitmap");
    return nullptr;
  }
  return found->second.get();
}

bool HostState::openWindow(DialogWindow &window, int32_t pluginId, Size size, bool restored) {
  if (window.isOpen) {
    return true; // the host brings the open window to the front
  }
  window.pluginId = pluginId;
  window.defaultSize = size;
  window.restoredFromLayout = restored;
  window.timerInterval = 0;
  forgetUserAreas(window);
  window.beginLayout();
  bool built = false;
  {
    PluginCall call(*this);
    built = window.callbacks.createLayout(window.callbacks.self) != 0;
  }
  const std::string unbalanced = window.endLayout();
  if (!unbalanced.empty()) {
    recordMisuse("createLayout", unbalanced);
  }
  if (!built) {
    return false;
  }
  for (auto &[id, area] : window.userAreas) {
    PluginCall call(*this);
    area->callbacks.minimumSize(area->callbacks.self, &area->reportedMinWidth,
                                &area->reportedMinHeight);
  }
  window.isOpen = true;
  ++window.timesOpened;
  {
    PluginCall call(*this);
    window.callbacks.initValues(window.callbacks.self);
  }
  drawPendingUserAreas();
  return true;
}

void HostState::closeWindow(DialogWindow &window, bool tellPlugin) {
  if (!window.isOpen) {
    return;
  }
  window.isOpen = false;
  window.timerInterval = 0;
  if (tellPlugin) {
    PluginCall call(*this);
    window.callbacks.closed(window.callbacks.self);
  }
}

void HostState::forgetUserAreas(DialogWindow &window) {
  for (const auto &[id, area] : window.userAreas) {
    userAreaHandles.remove(area->handle);
  }
  window.userAreas.clear();
}

void HostState::drawPendingUserAreas() {
  if (callbackDepth > 0) {
    return;
  }
  for (size_t i = 0; i < dialogs.size(); ++i) {
    DialogWindow &window = *dialogs[i];
    if (!window.isOpen) {
      continue;
    }
    for (auto &[id, area] : window.userAreas) {
      if (!area->needsDraw) {
        continue;
      }
      area->needsDraw = false;
      const Size size = window.userAreaSizes[id];
      if (area->canvas.width() != size.width || area->canvas.height() != size.height) {
        area->canvas = RgbImage(size.width, size.height, kUndrawnArea);
      }
      previewEvents.push_back(PreviewEvent{ticksFired, clockMs, PreviewEvent::Kind::Redraw, id,
                                           size.width, size.height, std::string()});
      PluginCall call(*this);
      area->drawing = true;
      area->callbacks.draw(area->callbacks.self, 0, 0, size.width - 1, size.height - 1);
      area->drawing = false;
    }
  }
}

} // namespace standin
