#include "host/files.h"

#include "host/connection.h"

namespace ek::host {

std::optional<std::string> pluginFolder() {
  return fetchText(
      [](char *buffer, int32_t size) { return call(&HostApi::pluginFolder, buffer, size); });
}

std::optional<std::string> joinPath(const std::string &folder, const std::string &name) {
  return fetchText([&](char *buffer, int32_t size) {
    return call(&HostApi::joinPath, folder.c_str(), name.c_str(), buffer, size);
  });
}

std::optional<std::string> chooseFolder(const std::string &title) {
  // The chooser must open once only, so the buffer is large enough for any path the host uses.
  std::string path(4096, '\0');
  const int32_t length =
      call(&HostApi::chooseFolder, title.c_str(), path.data(), int32_t(path.size()));
  if (length < 0 || length >= int32_t(path.size())) {
    return std::nullopt;
  }
  path.resize(size_t(length));
  return path;
}

} // namespace ek::host
