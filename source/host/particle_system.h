// The host's particle system: its library and the master system of a document.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "host/connection.h"
#include "host/document.h"
#include "host/object.h"
#include "host/value.h"

namespace ek::host {

class ParticleSystem {
public:
  // Loads the particle library; true when it is available.
  static bool loadLibrary();
  // The document's master system: its scene hook of the particle library's ID, accepted only when
  // the hook's type is that ID as well.
  static std::optional<ParticleSystem> of(const Document &document);

  // Number of particle slots, living or not.
  int32_t count() const { return call(&HostApi::particleCount, master_.handle()); }
  // The queries are inline: a particle read calls them millions of times.
  bool alive(int32_t index) const {
    return call(&HostApi::particleAlive, master_.handle(), index) != 0;
  }
  // The queries below write their answer and return true, or return false when the host could
  // not answer for the index.
  bool position(int32_t index, Vector &xyz) const {
    return call(&HostApi::particlePosition, master_.handle(), index, xyz.data()) != 0;
  }
  bool velocity(int32_t index, Vector &xyz) const { // units per second
    return call(&HostApi::particleVelocity, master_.handle(), index, xyz.data()) != 0;
  }
  bool color(int32_t index, std::array<float, 3> &rgb) const {
    return call(&HostApi::particleColor, master_.handle(), index, rgb.data()) != 0;
  }

private:
  explicit ParticleSystem(const Object &master) : master_(master) {}
  Object master_;
};

} // namespace ek::host
