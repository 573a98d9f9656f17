#include "scene/scene_object.h"

namespace standin {

SceneObject &SceneObject::addChild(std::unique_ptr<SceneObject> child) {
  children.push_back(std::move(child));
  return *children.back();
}

std::unique_ptr<SceneObject> SceneObject::clone() const {
  auto copy = std::make_unique<SceneObject>();
  copy->type = type;
  copy->name = name;
  copy->matrix = matrix;
  copy->parameters = parameters;
  copy->switchedOff = switchedOff;
  copy->focalLength = focalLength;
  copy->apertureWidth = apertureWidth;
  for (const auto &child : children) {
    copy->children.push_back(child->clone());
  }
  return copy;
}

} // namespace standin
