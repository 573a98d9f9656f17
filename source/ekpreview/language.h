// English and German texts and the choice between them.
#pragma once

#include <string>

namespace ek::plugin {

enum class Language { English, German };

// One user-visible text in both languages.
struct Text {
  const char *english;
  const char *german;
};

inline const char *pick(const Text &text, Language language) {
  return language == Language::German ? text.german : text.english;
}

// German when the identifier begins with "de" or "DE".
bool isGermanIdentifier(const std::string &identifier);

// The host's current language; without one, the installed language marked as current, and
// German when none is marked.
Language chooseLanguage();

} // namespace ek::plugin
