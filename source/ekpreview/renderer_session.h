// The renderer library binding and the one renderer context of the dialog.
#pragma once

#include <string>

#include "ekpreview/language.h"
#include "ekpreview/renderer_binding.h"

namespace ek::plugin {

class RendererSession {
public:
  enum class Outcome {
    Ready,        // a context exists
    CreatedOnCpu, // a context was just created on the CPU because no CUDA device could be used
    Failed,       // binding or creation failed, now or earlier; error() says why
  };

  RendererSession() = default;
  // Destroys the context and unloads the library.
  ~RendererSession();
  RendererSession(const RendererSession &) = delete;
  RendererSession &operator=(const RendererSession &) = delete;

  // Binds the library found next to the plug-in module (it stays loaded while the session lives)
  // and creates a context on CUDA device 0, or on the CPU when that device cannot be initialised.
  // The first failure is final: later calls fail at once without trying again.
  Outcome ensureContext(Language language);
  // Destroys the context; the library stays bound and a later ensureContext creates a new one.
  void destroyContext();

  EKContext *context() const { return context_; }
  // True while the context renders on the CPU because no CUDA device could be used.
  bool onCpu() const { return context_ != nullptr && onCpu_; }
  const RendererBinding &binding() const { return binding_; }
  const std::string &error() const { return contextError_; }

private:
  Outcome fail(std::string message);

  RendererBinding binding_;
  EKContext *context_ = nullptr;
  bool onCpu_ = false;
  bool contextFailed_ = false;
  std::string contextError_;
};

} // namespace ek::plugin
