#include "host/object.h"

#include "host/connection.h"
#include "host/host_ids.h"

namespace ek::host {

namespace {

Vector toVector(const double (&v)[3]) { return {v[0], v[1], v[2]}; }

void fromVector(const Vector &v, double (&out)[3]) {
  out[0] = v[0];
  out[1] = v[1];
  out[2] = v[2];
}

std::optional<Object> wrap(HostObject *handle) {
  return handle ? std::optional<Object>(Object(handle)) : std::nullopt;
}

} // namespace

int32_t Object::type() const { return call(&HostApi::objectType, handle_); }

std::optional<Object> Object::next() const { return wrap(call(&HostApi::objectNext, handle_)); }

std::optional<Object> Object::firstChild() const {
  return wrap(call(&HostApi::objectDown, handle_));
}

Matrix Object::globalMatrix() const {
  HostMatrix raw{};
  if (call(&HostApi::objectGetMatrix, handle_, &raw) == 0) {
    return Matrix{};
  }
  return Matrix{toVector(raw.offset), toVector(raw.axisX), toVector(raw.axisY),
                toVector(raw.axisZ)};
}

void Object::setGlobalMatrix(const Matrix &matrix) const {
  HostMatrix raw{};
  fromVector(matrix.offset, raw.offset);
  fromVector(matrix.axisX, raw.axisX);
  fromVector(matrix.axisY, raw.axisY);
  fromVector(matrix.axisZ, raw.axisZ);
  call(&HostApi::objectSetMatrix, handle_, &raw);
}

std::string Object::name() const {
  return fetchText([&](char *buffer, int32_t size) {
           return call(&HostApi::objectGetName, handle_, buffer, size);
         })
      .value_or(std::string());
}

Value Object::parameter(int32_t id) const {
  HostValue raw{};
  if (call(&HostApi::objectGetParameter, handle_, id, &raw) == 0) {
    return Value();
  }
  return Value(raw);
}

int32_t Object::mode(int32_t selector) const {
  return call(&HostApi::objectGetMode, handle_, selector);
}

std::optional<double> Object::dataReal(int32_t id) const {
  double value = 0.0;
  if (call(&HostApi::objectGetDataReal, handle_, id, &value) == 0) {
    return std::nullopt;
  }
  return value;
}

std::optional<OwnedObject> Object::clone() const {
  HostObject *copy = call(&HostApi::objectClone, handle_, object::kCloneFlagsObject);
  return copy ? std::optional<OwnedObject>(OwnedObject(copy)) : std::nullopt;
}

OwnedObject::OwnedObject(HostObject *handle) : handle_(handle) {}

void OwnedObject::Free::operator()(HostObject *handle) const {
  if (handle && connected()) {
    call(&HostApi::objectFree, handle);
  }
}

std::optional<Camera> Camera::from(const Object &object) {
  return object.type() == object::kTypeCamera ? std::optional<Camera>(Camera(object))
                                              : std::nullopt;
}

double Camera::focalLength() const { return call(&HostApi::cameraFocalLength, handle()); }

double Camera::apertureWidth() const { return call(&HostApi::cameraApertureWidth, handle()); }

std::optional<Light> Light::from(const Object &object) {
  return object.type() == object::kTypeLight ? std::optional<Light>(Light(object)) : std::nullopt;
}

bool Light::switchedOff() const { return mode(object::kModeSelectorOnOff) == object::kModeOff; }

} // namespace ek::host
