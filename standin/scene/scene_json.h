// Scene files: documents described as JSON.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "scene/document.h"

namespace standin {

// A scene file that cannot be read; the message names the file and the offending entry.
class SceneError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

std::unique_ptr<Document> loadSceneFile(const std::filesystem::path &file);
std::unique_ptr<Document> parseScene(const std::string &json, const std::string &sourceName);

} // namespace standin
