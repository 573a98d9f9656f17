// Registering a command with the host.
#pragma once

#include <cstdint>
#include <string>

#include "host/document.h"

namespace ek::host {

// What a registered command does. Exceptions thrown here are caught before they reach the host.
class CommandHandler {
public:
  virtual ~CommandHandler() = default;
  // The user ran the command in the given document.
  virtual bool execute(Document document) = 0;
  // The host restores its window layout and asks the command to put its dialog back.
  virtual bool restoreLayout(void *layoutData) = 0;
};

// The handler must stay alive until the module ends.
bool registerCommand(int32_t id, const std::string &name, const std::string &help,
                     CommandHandler &handler);

} // namespace ek::host
