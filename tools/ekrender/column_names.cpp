#include "column_names.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ekrender {

namespace {

const std::set<std::string> kPositionBases = {"p",   "point",    "points",
                                              "pos", "position", "positions"};
const std::set<std::string> kVelocityBases = {"v", "vel", "velocity", "velocities"};
const std::set<std::string> kColorBases = {"cd",     "c",       "col", "color", "colour",
                                           "colors", "colours", "rgb", "rgba",  "diffuse"};

// The component a suffix names: x, y, z (or r, g, b, a) or a digit; -1 for none.
int componentOf(const std::string &suffix, bool color) {
  if (suffix.size() != 1)
    return -1;
  const std::string letters = color ? "rgba" : "xyz";
  const size_t letter = letters.find(suffix[0]);
  if (letter != std::string::npos)
    return int(letter);
  const int digit = suffix[0] - '0';
  return digit >= 0 && digit < (color ? 4 : 3) ? digit : -1;
}

ColumnRole roleOf(const std::string &base, const std::string &suffix) {
  if (kPositionBases.count(base))
    if (const int k = componentOf(suffix, false); k >= 0)
      return {Attribute::Position, k};
  if (kVelocityBases.count(base))
    if (const int k = componentOf(suffix, false); k >= 0)
      return {Attribute::Velocity, k};
  if (kColorBases.count(base))
    if (const int k = componentOf(suffix, true); k >= 0)
      return {Attribute::Color, k};
  return {};
}

} // namespace

ColumnRole columnRole(const std::string &raw) {
  std::string name;
  for (char c : raw)
    if (c != '"' && c != '\'' && c != ' ')
      name += char(std::tolower(static_cast<unsigned char>(c)));
  static const char *colorWords[4] = {"red", "green", "blue", "alpha"};
  for (int k = 0; k < 4; ++k)
    if (name == colorWords[k] || (name.size() == 1 && name[0] == "rgba"[k]))
      return {Attribute::Color, k};
  if (name.size() == 1 && componentOf(name, false) >= 0 && !std::isdigit((unsigned char)name[0]))
    return {Attribute::Position, componentOf(name, false)};
  if (name == "opacity")
    return {Attribute::Color, 3};
  // BASE:N, BASE[c], BASE.c, BASE_c
  const size_t separator = name.find_last_of(":[._");
  if (separator != std::string::npos && separator > 0) {
    std::string suffix = name.substr(separator + 1);
    if (name[separator] == '[') {
      if (suffix.empty() || suffix.back() != ']')
        return {};
      suffix.pop_back();
    }
    return roleOf(name.substr(0, separator), suffix);
  }
  // px, vx: a one-letter base and its component
  if (name.size() == 2)
    return roleOf(name.substr(0, 1), name.substr(1));
  return {};
}

std::string roleName(const ColumnRole &role) {
  switch (role.attribute) {
  case Attribute::Position:
    return std::string("position ") + "xyz"[role.component];
  case Attribute::Velocity:
    return std::string("velocity ") + "xyz"[role.component];
  case Attribute::Color: {
    static const char *channels[4] = {"red", "green", "blue", "alpha"};
    return std::string("colour ") + channels[role.component];
  }
  case Attribute::None:
    break;
  }
  return "nothing";
}

} // namespace ekrender
