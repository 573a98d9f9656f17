// Settings files of ekrender, INI or TOML: "name = value" lines at the top of the file or under
// the program's own section, read into entries that keep their line numbers for the messages.
#pragma once

#include <string>
#include <vector>

namespace ekrender {

enum class ConfigSyntax {
  Ini,  // ; and # comments, values quoted or not, repeated keys, a bare name for a flag
  Toml, // # comments, text quoted (with escapes in "..."), numbers and booleans bare
};

// TOML for a name ending in .toml (any case), INI for every other name.
ConfigSyntax configSyntaxFor(const std::string &path);

struct ConfigEntry {
  int line = 0; // where the name stands, from 1
  std::string key;
  std::vector<std::string> values; // one, several for a list, none for an INI name alone
  bool list = false;               // written as [a, b, ...]
};

struct ConfigProblem {
  int line = 0;
  std::string message;
};

// Reads `text`, keeping the entries at the top level and under [section]; any other section, bad
// syntax or a byte that is not text is a problem at its line.
bool parseConfigText(const std::string &text, ConfigSyntax syntax, const std::string &section,
                     std::vector<ConfigEntry> &entries, ConfigProblem &problem);

// Reads the file `path` as its name tells; a failure is "PATH:LINE: what is wrong", or
// "PATH: why it cannot be read".
bool readConfigFile(const std::string &path, const std::string &section,
                    std::vector<ConfigEntry> &entries, std::string &error);

} // namespace ekrender
