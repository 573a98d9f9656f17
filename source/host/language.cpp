#include "host/language.h"

#include "host/connection.h"

namespace ek::host {

std::optional<std::string> currentLanguage() {
  return fetchText(
      [](char *buffer, int32_t size) { return call(&HostApi::currentLanguage, buffer, size); });
}

std::optional<InstalledLanguage> installedLanguage(int32_t index) {
  char buffer[256] = {};
  int32_t isCurrent = 0;
  if (call(&HostApi::languageAt, index, buffer, int32_t(sizeof buffer), &isCurrent) == 0) {
    return std::nullopt;
  }
  return InstalledLanguage{buffer, isCurrent != 0};
}

} // namespace ek::host
