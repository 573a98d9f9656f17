#include "ekpreview/renderer_binding.h"

#include <cstdio>

#include "ekpreview/texts.h"

namespace ek::plugin {

namespace {

template <typename Function>
bool resolve(platform::LibraryHandle library, const char *name, Function &slot) {
  slot = reinterpret_cast<Function>(platform::findSymbol(library, name));
  return slot != nullptr;
}

// Stops at the first missing export.
bool resolveAll(RendererBinding &b, platform::LibraryHandle library) {
  return resolve(library, "ekApiVersion", b.apiVersion) && resolve(library, "ekCreate", b.create) &&
         resolve(library, "ekDestroy", b.destroy) && resolve(library, "ekLastError", b.lastError) &&
         resolve(library, "ekDeviceInfo", b.deviceInfo) &&
         resolve(library, "ekReserve", b.reserve) && resolve(library, "ekUpload", b.upload) &&
         resolve(library, "ekSetCount", b.setCount) && resolve(library, "ekRender", b.render) &&
         resolve(library, "ekSaveEXR", b.saveExr) && resolve(library, "ekSavePNG", b.savePng);
}

} // namespace

bool bindLibrary(RendererBinding &binding, const char *utf8Path,
                 char (&message)[kBindingMessageSize], Language language) {
  if (binding.library != nullptr) {
    return true;
  }
  const char *path = utf8Path != nullptr ? utf8Path : "";
  const platform::LoadResult loaded = platform::loadLibrary(path);
  if (loaded.status == platform::LoadStatus::PathNotConvertible) {
    std::snprintf(message, sizeof message, pick(text::kPathNotConverted, language), path);
    return false;
  }
  if (loaded.status != platform::LoadStatus::Loaded) {
    std::snprintf(message, sizeof message, pick(text::kLibraryNotLoaded, language),
                  loaded.errorCode, path);
    return false;
  }
  if (!resolveAll(binding, loaded.handle)) {
    std::snprintf(message, sizeof message, pick(text::kFunctionsMissing, language), path);
    platform::freeLibrary(loaded.handle);
    return false;
  }
  const int version = binding.apiVersion();
  if (version != kExpectedApiVersion) {
    std::snprintf(message, sizeof message, pick(text::kWrongApiVersion, language), version,
                  kExpectedApiVersion, path);
    platform::freeLibrary(loaded.handle);
    return false;
  }
  binding.library = loaded.handle;
  return true;
}

void unbindLibrary(RendererBinding &binding) {
  platform::freeLibrary(binding.library);
  binding = RendererBinding{};
}

} // namespace ek::plugin
