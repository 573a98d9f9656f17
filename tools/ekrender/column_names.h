// What a particle file's column is, from the names tools give it: x, X, Points:0, P[x], P.x, px,
// position_x; r, red, Cd[r], Cd.r, RGB:0, color_r; alpha, Alpha, a, RGBA:3; vx, v[x], v.x,
// Velocity:0, vel_x. Case and surrounding quotes do not matter.
#pragma once

#include <string>

namespace ekrender {

enum class Attribute { None, Position, Color, Velocity };

struct ColumnRole {
  Attribute attribute = Attribute::None;
  int component = 0; // 0..2 for x, y, z; 0..3 for red, green, blue, alpha
};

ColumnRole columnRole(const std::string &name);

// "position x", "colour alpha", "velocity z": what a column with this role gives, for messages.
std::string roleName(const ColumnRole &role);

} // namespace ekrender
