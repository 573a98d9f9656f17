// Paths the host knows: the plug-in's folder, joined paths and the folder chooser.
#pragma once

#include <optional>
#include <string>

namespace ek::host {

// The folder the host loaded this plug-in module from.
std::optional<std::string> pluginFolder();
// The folder joined with a file name by the host's path rules.
std::optional<std::string> joinPath(const std::string &folder, const std::string &name);
// Asks the user for a folder; absent when the user cancelled.
std::optional<std::string> chooseFolder(const std::string &title);

} // namespace ek::host
