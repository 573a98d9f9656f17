// Command registration and languages.
#include "table/table_common.h"

#include <algorithm>
#include <cstring>

namespace standin {

namespace {

int32_t registerCommand(HostInstance *instance, int32_t id, const char *name, const char *help,
                        const HostCommandCallbacks *callbacks) {
  HostState &s = stateOf(instance, "registerCommand");
  if (callbacks == nullptr || callbacks->execute == nullptr || name == nullptr) {
    s.recordMisuse("registerCommand", "missing name or callbacks");
    return 0;
  }
  for (const RegisteredCommand &c : s.commands) {
    if (c.id == id) {
      s.recordMisuse("registerCommand", "ID " + std::to_string(id) + " is registered already");
      return 0;
    }
  }
  s.commands.push_back(RegisteredCommand{id, name, help ? help : "", *callbacks});
  return 1;
}

int32_t currentLanguage(HostInstance *instance, char *buffer, int32_t size) {
  HostState &s = stateOf(instance, "currentLanguage");
  return s.options.currentLanguage ? writeText(*s.options.currentLanguage, buffer, size) : -1;
}

int32_t languageAt(HostInstance *instance, int32_t index, char *buffer, int32_t size,
                   int32_t *isCurrent) {
  HostState &s = stateOf(instance, "languageAt");
  if (index < 0 || size_t(index) >= s.options.installedLanguages.size()) {
    return 0;
  }
  const InstalledLanguage &language = s.options.installedLanguages[size_t(index)];
  writeText(language.identifier, buffer, size);
  if (isCurrent) {
    *isCurrent = language.current ? 1 : 0;
  }
  return 1;
}

} // namespace

int32_t writeText(const std::string &text, char *buffer, int32_t size) {
  if (buffer != nullptr && size >= 1) {
    const size_t copied = std::min(text.size(), size_t(size - 1));
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
  }
  return int32_t(text.size());
}

void fillModuleOperations(HostApi &api) {
  api.registerCommand = registerCommand;
  api.currentLanguage = currentLanguage;
  api.languageAt = languageAt;
}

HostApi makeHostApi(HostInstance &instance, int32_t apiLevel) {
  HostApi api{};
  api.size = sizeof(HostApi);
  api.version = HOST_API_VERSION;
  api.apiLevel = apiLevel;
  api.instance = &instance;
  fillModuleOperations(api);
  fillDialogOperations(api);
  fillDrawingOperations(api);
  fillDocumentOperations(api);
  fillObjectOperations(api);
  fillServiceOperations(api);
  return api;
}

} // namespace standin
