// Paths cross the operation table as UTF-8 texts.
#pragma once

#include <filesystem>
#include <string>

namespace standin {

inline std::filesystem::path pathFromUtf8(const std::string &text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string utf8FromPath(const std::filesystem::path &path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

} // namespace standin
