#include "ekpreview/camera_path.h"

namespace ek::plugin {

namespace {

// Siblings are walked in a loop and only children recurse, so the depth of the recursion is
// bounded by kMaxPathLevels whatever the tree holds.
bool search(std::optional<host::Object> object, const host::Object &target,
            std::vector<int32_t> &path) {
  for (int32_t index = 0; object; ++index, object = object->next()) {
    path.push_back(index);
    if (*object == target) {
      return true;
    }
    if (path.size() < kMaxPathLevels && search(object->firstChild(), target, path)) {
      return true;
    }
    path.pop_back();
  }
  return false;
}

} // namespace

std::optional<std::vector<int32_t>> objectPath(std::optional<host::Object> first,
                                               const host::Object &target) {
  std::vector<int32_t> path;
  if (search(first, target, path)) {
    return path;
  }
  return std::nullopt;
}

std::optional<host::Object> followPath(std::optional<host::Object> first,
                                       const std::vector<int32_t> &path) {
  std::optional<host::Object> object = first;
  for (size_t level = 0; level < path.size() && object; ++level) {
    if (level > 0) {
      object = object->firstChild();
    }
    for (int32_t k = 0; k < path[level] && object; ++k) {
      object = object->next();
    }
  }
  return object;
}

} // namespace ek::plugin
