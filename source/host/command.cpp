#include "host/command.h"

#include "host/connection.h"

namespace ek::host {

namespace {

int32_t executeCommand(void *self, HostDocument *document) {
  try {
    return static_cast<CommandHandler *>(self)->execute(Document(document)) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t restoreCommandLayout(void *self, void *layoutData) {
  try {
    return static_cast<CommandHandler *>(self)->restoreLayout(layoutData) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

} // namespace

bool registerCommand(int32_t id, const std::string &name, const std::string &help,
                     CommandHandler &handler) {
  const HostCommandCallbacks callbacks{&handler, executeCommand, restoreCommandLayout};
  return call(&HostApi::registerCommand, id, name.c_str(), help.c_str(), &callbacks) != 0;
}

} // namespace ek::host
