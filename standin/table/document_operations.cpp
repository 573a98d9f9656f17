// Documents, their views and render settings.
#include "table/table_common.h"

#include "host/host_ids.h"

namespace standin {

namespace {

namespace doc = ek::host::document;
namespace rd = ek::host::render_data;

void setInt(HostValue *value, int64_t v) {
  value->kind = HOST_VALUE_INT;
  value->integer = v;
}

void setDimension(HostValue *value, const RenderDimension &d) {
  if (const auto *whole = std::get_if<int32_t>(&d)) {
    setInt(value, *whole);
  } else {
    value->kind = HOST_VALUE_REAL;
    value->real = std::get<double>(d);
  }
}

void setTime(HostValue *value, const Time &t) {
  value->kind = HOST_VALUE_TIME;
  value->timeNumerator = t.numerator;
  value->timeDenominator = t.denominator;
}

HostDocument *activeDocument(HostInstance *instance) {
  HostState &s = stateOf(instance, "activeDocument");
  return s.activeDocument ? asHandle<HostDocument>(s.activeDocument->handle) : nullptr;
}

HostView *documentActiveView(HostInstance *instance, HostDocument *handle) {
  Document *d = stateOf(instance, "documentActiveView").document(handle, "documentActiveView");
  return d && d->hasActiveView ? asHandle<HostView>(d->viewHandle) : nullptr;
}

HostObject *viewSceneCamera(HostInstance *instance, HostView *view, HostDocument *handle) {
  HostState &s = stateOf(instance, "viewSceneCamera");
  Document *d = s.document(handle, "viewSceneCamera");
  if (!d) {
    return nullptr;
  }
  if (s.viewHandles.find(view) != d) {
    s.recordMisuse("viewSceneCamera", "the view does not belong to the document");
    return nullptr;
  }
  SceneObject *camera = d->activeCamera();
  return camera ? asHandle<HostObject>(camera->handle) : nullptr;
}

HostRenderData *documentRenderData(HostInstance *instance, HostDocument *handle) {
  Document *d = stateOf(instance, "documentRenderData").document(handle, "documentRenderData");
  return d ? asHandle<HostRenderData>(d->renderDataHandle) : nullptr;
}

int32_t renderDataGetParameter(HostInstance *instance, HostRenderData *handle, int32_t id,
                               HostValue *value) {
  HostState &s = stateOf(instance, "renderDataGetParameter");
  Document *d = s.renderDataHandles.find(handle);
  if (!d) {
    s.recordMisuse("renderDataGetParameter", "unknown or freed render settings");
    return 0;
  }
  if (!value) {
    return 0;
  }
  *value = HostValue{};
  const RenderSettings &r = d->render;
  switch (id) {
  case rd::kWidth:
    setDimension(value, r.width);
    return 1;
  case rd::kHeight:
    setDimension(value, r.height);
    return 1;
  case rd::kFrameSequence:
    setInt(value, r.frameSequence);
    return 1;
  case rd::kFrameFrom:
    setTime(value, r.from);
    return 1;
  case rd::kFrameTo:
    setTime(value, r.to);
    return 1;
  case rd::kFrameStep:
    setInt(value, r.step);
    return 1;
  default:
    return 0;
  }
}

int32_t documentFps(HostInstance *instance, HostDocument *handle) {
  Document *d = stateOf(instance, "documentFps").document(handle, "documentFps");
  return d ? d->fps : 0;
}

int32_t documentGetTime(HostInstance *instance, HostDocument *handle, int64_t *numerator,
                        int64_t *denominator) {
  Document *d = stateOf(instance, "documentGetTime").document(handle, "documentGetTime");
  if (!d || !numerator || !denominator) {
    return 0;
  }
  *numerator = d->time.numerator;
  *denominator = d->time.denominator;
  return 1;
}

int32_t documentSetTime(HostInstance *instance, HostDocument *handle, int64_t numerator,
                        int64_t denominator) {
  HostState &s = stateOf(instance, "documentSetTime");
  Document *d = s.document(handle, "documentSetTime");
  if (!d) {
    return 0;
  }
  if (denominator <= 0) {
    s.recordMisuse("documentSetTime", "the time's denominator must be positive");
    return 0;
  }
  d->time = Time{numerator, denominator};
  return 1;
}

int32_t documentGetParameter(HostInstance *instance, HostDocument *handle, int32_t id,
                             HostValue *value) {
  Document *d = stateOf(instance, "documentGetParameter").document(handle, "documentGetParameter");
  if (!d || !value) {
    return 0;
  }
  *value = HostValue{};
  switch (id) {
  case doc::kTime:
    setTime(value, d->time);
    return 1;
  case doc::kFps:
    setInt(value, d->fps);
    return 1;
  case doc::kMinTime:
    setTime(value, d->minTime);
    return 1;
  case doc::kMaxTime:
    setTime(value, d->maxTime);
    return 1;
  case doc::kPreviewMinTime:
    setTime(value, d->previewMin);
    return 1;
  case doc::kPreviewMaxTime:
    setTime(value, d->previewMax);
    return 1;
  default:
    return 0;
  }
}

int32_t documentGetText(HostInstance *instance, HostDocument *handle, int32_t id, char *buffer,
                        int32_t size) {
  Document *d = stateOf(instance, "documentGetText").document(handle, "documentGetText");
  if (!d || id != doc::kFileName) {
    return -1;
  }
  return writeText(d->fileName, buffer, size);
}

HostObject *documentFirstObject(HostInstance *instance, HostDocument *handle) {
  Document *d = stateOf(instance, "documentFirstObject").document(handle, "documentFirstObject");
  return d && !d->objects.empty() ? asHandle<HostObject>(d->objects.front()->handle) : nullptr;
}

HostObject *documentFindSceneHook(HostInstance *instance, HostDocument *handle, int32_t id) {
  Document *d =
      stateOf(instance, "documentFindSceneHook").document(handle, "documentFindSceneHook");
  if (!d || !d->hasParticleHook || id != ek::host::library::kThinkingParticles) {
    return nullptr;
  }
  return asHandle<HostObject>(d->particleHook.handle);
}

uint32_t documentDirty(HostInstance *instance, HostDocument *handle, uint32_t) {
  Document *d = stateOf(instance, "documentDirty").document(handle, "documentDirty");
  return d ? d->changeCount() : 0;
}

HostDocument *documentClone(HostInstance *instance, HostDocument *handle, uint32_t) {
  HostState &s = stateOf(instance, "documentClone");
  Document *d = s.document(handle, "documentClone");
  if (!d) {
    return nullptr;
  }
  Document &copy = s.addDocument(d->clone());
  s.pluginDocuments.insert(&copy);
  return asHandle<HostDocument>(copy.handle);
}

void documentFree(HostInstance *instance, HostDocument *handle) {
  HostState &s = stateOf(instance, "documentFree");
  Document *d = s.document(handle, "documentFree");
  if (!d) {
    return;
  }
  if (!s.pluginDocuments.contains(d)) {
    s.recordMisuse("documentFree", "the document belongs to the host");
    return;
  }
  s.removeDocument(*d);
}

int32_t documentExecutePasses(HostInstance *instance, HostDocument *handle, int32_t useThread,
                              int32_t animation, int32_t, int32_t, uint32_t) {
  HostState &s = stateOf(instance, "documentExecutePasses");
  Document *d = s.document(handle, "documentExecutePasses");
  if (!d) {
    return 0;
  }
  if (useThread != 0) {
    s.recordMisuse("documentExecutePasses", "the stand-in runs passes on the main thread only");
    return 0;
  }
  if (animation != 0) {
    d->executePasses();
  }
  return 1;
}

} // namespace

void fillDocumentOperations(HostApi &api) {
  api.activeDocument = activeDocument;
  api.documentActiveView = documentActiveView;
  api.viewSceneCamera = viewSceneCamera;
  api.documentRenderData = documentRenderData;
  api.renderDataGetParameter = renderDataGetParameter;
  api.documentFps = documentFps;
  api.documentGetTime = documentGetTime;
  api.documentSetTime = documentSetTime;
  api.documentGetParameter = documentGetParameter;
  api.documentGetText = documentGetText;
  api.documentFirstObject = documentFirstObject;
  api.documentFindSceneHook = documentFindSceneHook;
  api.documentDirty = documentDirty;
  api.documentClone = documentClone;
  api.documentFree = documentFree;
  api.documentExecutePasses = documentExecutePasses;
}

} // namespace standin
