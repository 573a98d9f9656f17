// The renderer library's entry points, resolved by name at run time.
#pragma once

#include <cstddef>

#include "ekpreview/language.h"
#include "emberkit.h"
#include "platform/dynamic_library.h"

namespace ek::plugin {

// Interface version this plug-in was written against.
constexpr int kExpectedApiVersion = EK_API_VERSION;
constexpr std::size_t kBindingMessageSize = 1024;

// One pointer per resolved export, in resolution order, then the library handle. The pointers
// are only called once `library` is set.
struct RendererBinding {
  decltype(&ekApiVersion) apiVersion = nullptr;
  decltype(&ekCreate) create = nullptr;
  decltype(&ekDestroy) destroy = nullptr;
  decltype(&ekLastError) lastError = nullptr;
  decltype(&ekDeviceInfo) deviceInfo = nullptr;
  decltype(&ekReserve) reserve = nullptr;
  decltype(&ekUpload) upload = nullptr;
  decltype(&ekSetCount) setCount = nullptr;
  decltype(&ekRender) render = nullptr;
  decltype(&ekSaveEXR) saveExr = nullptr;
  decltype(&ekSavePNG) savePng = nullptr;
  platform::LibraryHandle library = nullptr;
};

// Loads the library at the UTF-8 path, resolves every entry point and checks the interface
// version. Returns true when bound (at once when the binding already holds a library). On failure
// the library is unloaded again and `message` holds the reason in the given language.
bool bindLibrary(RendererBinding &binding, const char *utf8Path,
                 char (&message)[kBindingMessageSize], Language language);

// Unloads a bound library and clears every pointer; nothing when none is bound.
void unbindLibrary(RendererBinding &binding);

} // namespace ek::plugin
