// Scene objects, cameras and lights of a host document.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/host_api.h"
#include "host/value.h"

namespace ek::host {

// A global matrix in the host's left-handed frame.
struct Matrix {
  Vector offset{};
  Vector axisX{1.0, 0.0, 0.0};
  Vector axisY{0.0, 1.0, 0.0};
  Vector axisZ{0.0, 0.0, 1.0};
};

class OwnedObject;

// A plain reference to an object that its document (or an OwnedObject) keeps alive.
class Object {
public:
  explicit Object(HostObject *handle) : handle_(handle) {}

  int32_t type() const;
  std::optional<Object> next() const;
  std::optional<Object> firstChild() const;
  Matrix globalMatrix() const;
  void setGlobalMatrix(const Matrix &matrix) const;
  Value parameter(int32_t id) const;
  // The name the user gave the object; empty when the host has none.
  std::string name() const;
  // The answer of the host's mode query with the given selector (host::object).
  int32_t mode(int32_t selector) const;
  // A real of the object's data container.
  std::optional<double> dataReal(int32_t id) const;
  std::optional<OwnedObject> clone() const;

  HostObject *handle() const { return handle_; }
  bool operator==(const Object &other) const { return handle_ == other.handle_; }

private:
  HostObject *handle_;
};

// A stand-alone object clone that is freed with this value.
class OwnedObject {
public:
  explicit OwnedObject(HostObject *handle);
  Object object() const { return Object(handle_.get()); }

private:
  struct Free {
    void operator()(HostObject *handle) const;
  };
  std::unique_ptr<HostObject, Free> handle_;
};

// An object of the camera type, with its lens.
class Camera : public Object {
public:
  static std::optional<Camera> from(const Object &object);
  double focalLength() const;   // millimetres
  double apertureWidth() const; // millimetres

private:
  explicit Camera(const Object &object) : Object(object) {}
};

// An object of the light type.
class Light : public Object {
public:
  static std::optional<Light> from(const Object &object);
  // True when the light's editor/render switch is off.
  bool switchedOff() const;

private:
  explicit Light(const Object &object) : Object(object) {}
};

} // namespace ek::host
