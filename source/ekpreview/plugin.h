// The module's life: accepting the host, starting, plug-in messages and the end.
#pragma once

#include <cstdint>

namespace ek::plugin {

// Handles one call of the module entry point; see host_api.h for the messages.
int32_t handleModuleMessage(int32_t message, void *data);

} // namespace ek::plugin
