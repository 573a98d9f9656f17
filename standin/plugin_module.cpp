#include "plugin_module.h"

#include "utf8_path.h"

namespace standin {

std::string PluginModule::load(const std::filesystem::path &file) {
  unload();
  const std::string path = utf8FromPath(file);
  const ek::platform::LoadResult result = ek::platform::loadLibrary(path.c_str());
  if (result.status != ek::platform::LoadStatus::Loaded) {
    return "cannot load " + path + " (error " + std::to_string(result.errorCode) +
           (result.detail.empty() ? ")" : ": " + result.detail + ")");
  }
  void *entry = ek::platform::findSymbol(result.handle, HOST_MODULE_ENTRY_NAME);
  if (entry == nullptr) {
    ek::platform::freeLibrary(result.handle);
    return path + " has no entry point " + HOST_MODULE_ENTRY_NAME;
  }
  library_ = result.handle;
  entry_ = reinterpret_cast<HostModuleEntry>(entry);
  return std::string();
}

void PluginModule::unload() {
  if (library_ != nullptr) {
    ek::platform::freeLibrary(library_);
  }
  library_ = nullptr;
  entry_ = nullptr;
}

} // namespace standin
