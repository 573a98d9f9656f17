// Command line of flarion-host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace standin::program {

// One user action on a control, applied in command-line order.
struct ControlAction {
  enum class Kind { Set, Press } kind = Kind::Set;
  std::string control; // ID or label
  std::string value;
};

struct Options {
  std::filesystem::path scene;
  std::optional<std::filesystem::path> pluginFolder; // default: the program's own folder
  std::optional<std::string> language = std::string("en-US");
  int32_t apiLevel = 0; // 0: the stand-in's default
  std::vector<ControlAction> actions;
  int32_t ticks = 1;
  int32_t previewWidth = 0; // 0: as the plug-in laid it out
  int32_t previewHeight = 0;
  std::optional<std::filesystem::path> savePreview;
  std::optional<std::string> exportFolder;
  bool help = false;
};

// Parses argv; throws std::invalid_argument with a message naming the bad option.
Options parseOptions(int argc, char **argv);
std::string usage();

} // namespace standin::program
