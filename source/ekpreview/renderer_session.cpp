#include "ekpreview/renderer_session.h"

#include <cstring>
#include <optional>

#include "ekpreview/texts.h"
#include "host/files.h"

namespace ek::plugin {

namespace {

constexpr const char *kRendererLibraryStem = "emberkit";
constexpr int32_t kFirstCudaDevice = 0;
// What the library reports on a context whose CUDA device could not be initialised.
constexpr const char *kCudaInitFailed = "Could not initialize CUDA device";

std::optional<std::string> rendererLibraryPath() {
  auto folder = host::pluginFolder();
  if (!folder) {
    return std::nullopt;
  }
  return host::joinPath(*folder, platform::sharedLibraryFileName(kRendererLibraryStem));
}

} // namespace

// The session ends with the plug-in: the library is let go with it, so that a host unloading the
// plug-in can also remove its folder (Windows keeps a loaded library's file locked).
RendererSession::~RendererSession() {
  destroyContext();
  unbindLibrary(binding_);
}

RendererSession::Outcome RendererSession::ensureContext(Language language) {
  if (context_ != nullptr) {
    return Outcome::Ready;
  }
  if (contextFailed_) {
    return Outcome::Failed;
  }
  const std::optional<std::string> path = rendererLibraryPath();
  char message[kBindingMessageSize] = {};
  if (!path || !bindLibrary(binding_, path->c_str(), message, language)) {
    return fail(message);
  }
  EKContext *context = binding_.create(kFirstCudaDevice);
  if (context == nullptr) {
    return fail(pick(text::kContextNotCreated, language));
  }
  const char *reason = binding_.lastError(context);
  if (reason == nullptr || std::strcmp(reason, kCudaInitFailed) != 0) {
    context_ = context;
    onCpu_ = false;
    return Outcome::Ready;
  }
  binding_.destroy(context);
  context = binding_.create(EK_DEVICE_CPU);
  if (context == nullptr) {
    return fail(pick(text::kContextNotCreated, language));
  }
  context_ = context;
  onCpu_ = true;
  return Outcome::CreatedOnCpu;
}

void RendererSession::destroyContext() {
  if (context_ != nullptr) {
    binding_.destroy(context_);
    context_ = nullptr;
  }
}

RendererSession::Outcome RendererSession::fail(std::string message) {
  contextFailed_ = true;
  contextError_ = std::move(message);
  return Outcome::Failed;
}

} // namespace ek::plugin
