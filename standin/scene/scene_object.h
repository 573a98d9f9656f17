// Objects of a stand-in document: cameras, lights and plain objects in a tree.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "scene/vec3.h"

namespace standin {

// A parameter value as the host stores it.
using ParameterValue = std::variant<int64_t, double, Vec3>;

// Object type of plain grouping objects; cameras and lights use the published types.
constexpr int32_t kTypeNull = 5140;

class SceneObject {
public:
  int32_t type = kTypeNull;
  std::string name;
  Matrix matrix; // global
  std::map<int32_t, ParameterValue> parameters;
  bool switchedOff = false;    // the editor/render switch of the mode query
  double focalLength = 36.0;   // cameras, millimetres
  double apertureWidth = 36.0; // cameras, millimetres
  std::vector<std::unique_ptr<SceneObject>> children;

  // Handle the host gave this object; 0 while the object belongs to no host.
  uintptr_t handle = 0;

  SceneObject() = default;
  SceneObject(int32_t objectType, std::string objectName)
      : type(objectType), name(std::move(objectName)) {}

  SceneObject &addChild(std::unique_ptr<SceneObject> child);
  // A deep copy without handles.
  std::unique_ptr<SceneObject> clone() const;
};

// Calls `visit` for every object of the forest, depth first: an object, its children, then its
// next sibling.
template <typename Visit>
void forEachObject(const std::vector<std::unique_ptr<SceneObject>> &objects, Visit &&visit) {
  for (const auto &object : objects) {
    visit(*object);
    forEachObject(object->children, visit);
  }
}

} // namespace standin
