// Finding an object again in a copy of its document by its place in the object tree.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "host/object.h"

namespace ek::plugin {

// Deepest level of the tree searched for an object.
constexpr size_t kMaxPathLevels = 64;

// For each level from the first object down to the target, how many next siblings lead to it;
// absent when the target is not within kMaxPathLevels levels. The search is depth first in
// document order and stops at the first match.
std::optional<std::vector<int32_t>> objectPath(std::optional<host::Object> first,
                                               const host::Object &target);

// The object at the path, walked from the first object: at every level after the first down to
// the first child, then along as many next siblings as recorded.
std::optional<host::Object> followPath(std::optional<host::Object> first,
                                       const std::vector<int32_t> &path);

} // namespace ek::plugin
