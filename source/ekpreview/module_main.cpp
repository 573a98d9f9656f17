// The module's one exported entry point. No exception leaves it.
#include <cstdint>

#include "ekpreview/plugin.h"
#include "host/host_api.h"

extern "C" HOST_MODULE_EXPORT int32_t xlibMain(int32_t message, void *data) {
  try {
    return ek::plugin::handleModuleMessage(message, data);
  } catch (...) {
    return 0;
  }
}
