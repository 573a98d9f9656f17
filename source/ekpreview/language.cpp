#include "ekpreview/language.h"

#include "host/language.h"

namespace ek::plugin {

bool isGermanIdentifier(const std::string &identifier) {
  return identifier.starts_with("de") || identifier.starts_with("DE");
}

Language chooseLanguage() {
  auto toLanguage = [](const std::string &id) {
    return isGermanIdentifier(id) ? Language::German : Language::English;
  };
  if (auto current = host::currentLanguage()) {
    return toLanguage(*current);
  }
  for (int32_t index = 0;; ++index) {
    auto installed = host::installedLanguage(index);
    if (!installed) {
      break;
    }
    if (installed->current) {
      return toLanguage(installed->identifier);
    }
  }
  return Language::German;
}

} // namespace ek::plugin
