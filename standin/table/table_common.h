// Helpers shared by the stand-in's operations.
#pragma once

#include <cstdint>
#include <string>

#include "host_state.h"

namespace standin {

// The host state behind the instance, after the thread check of the operation.
inline HostState &stateOf(HostInstance *instance, const char *operation) {
  instance->state->checkThread(operation);
  return *instance->state;
}

// Copies the text into the caller's buffer following the table's text convention.
int32_t writeText(const std::string &text, char *buffer, int32_t size);

void fillModuleOperations(HostApi &api);
void fillDialogOperations(HostApi &api);
void fillDrawingOperations(HostApi &api);
void fillDocumentOperations(HostApi &api);
void fillObjectOperations(HostApi &api);
void fillServiceOperations(HostApi &api);

} // namespace standin
