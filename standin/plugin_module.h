// A plug-in module file loaded with the platform layer and its entry point.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/host_api.h"
#include "platform/dynamic_library.h"

namespace standin {

// File name of a plug-in module on this platform.
#if defined(_WIN32)
constexpr const char *kPluginModuleFileName = "Flarion.xdl64";
#else
constexpr const char *kPluginModuleFileName = "Flarion.xlib";
#endif

class PluginModule {
public:
  PluginModule() = default;
  ~PluginModule() { unload(); }
  PluginModule(const PluginModule &) = delete;
  PluginModule &operator=(const PluginModule &) = delete;

  // Loads the module file and resolves its entry point. Returns an empty text on success,
  // otherwise the reason.
  std::string load(const std::filesystem::path &file);
  void unload();
  bool loaded() const { return entry_ != nullptr; }
  int32_t send(int32_t message, void *data) const { return entry_(message, data); }

private:
  ek::platform::LibraryHandle library_ = nullptr;
  HostModuleEntry entry_ = nullptr;
};

} // namespace standin
