// Command line of flarion-host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "program/actions.h"

namespace standin::program {

struct Options {
  std::filesystem::path scene;
  std::optional<std::filesystem::path> pluginFolder; // default: the program's own folder
  std::optional<std::string> language = std::string("en-US");
  int32_t apiLevel = 0;        // 0: the stand-in's default
  std::vector<Action> actions; // in command-line order
  int32_t ticks = 1;           // at least; the run lasts until the last action's tick
  int32_t previewWidth = 0;    // 0: as the plug-in laid it out
  int32_t previewHeight = 0;
  std::optional<std::filesystem::path> savePreview;
  std::optional<std::string> exportFolder;
  bool quiet = false; // leave out the dialog's layout
  bool help = false;
};

// Parses the arguments (UTF-8 texts, the program's name first); throws std::invalid_argument with
// a message naming the bad option.
Options parseOptions(int argc, const char *const *argv);
std::string usage();

} // namespace standin::program
