// The host's language settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ek::host {

struct InstalledLanguage {
  std::string identifier; // for example "de-DE"
  bool current = false;
};

// Identifier of the current language, when the host offers one directly.
std::optional<std::string> currentLanguage();
// The installed language at the index; absent past the end of the list.
std::optional<InstalledLanguage> installedLanguage(int32_t index);

} // namespace ek::host
