// The stand-in's particle system: emitters simulated frame by frame with seeded draws.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "scene/vec3.h"

namespace standin {

struct Color {
  float red = 1.0f, green = 1.0f, blue = 1.0f;
};

struct Emitter {
  Vec3 position;
  Vec3 halfSize;       // births are spread uniformly over this box around the position
  double rate = 100.0; // births per second
  int32_t lifeFrames = 60;
  Vec3 velocity;               // units per second; its direction is the cone axis
  double spreadDegrees = 0.0;  // half angle of the cone of birth directions
  double speedVariation = 0.0; // relative: 0.2 gives speeds within +-20 %
  Vec3 gravity;                // units per second squared
  Color startColor;            // colour at birth, blended to endColor over the life span
  Color endColor;
  int32_t firstFrame = INT32_MIN; // emits from max(firstFrame, simulation start)
  int32_t lastFrame = INT32_MAX;
};

struct Particle {
  Vec3 position;
  Vec3 velocity; // units per second
  Color color;
  int32_t emitter = 0;
  int32_t birthFrame = 0;
  bool alive = true;
};

class ParticleSystem {
public:
  uint32_t seed = 1;
  std::vector<Emitter> emitters;
  // Particles that exist from the simulation's start on, in the first slots and in this order,
  // and never move, age or die; their values reach the plug-in as given (colours outside 0..1,
  // or values that are not finite). Read when the simulation starts over.
  std::vector<Particle> fixed;

  // The fixed particles, then every slot ever born; dead particles keep their slots and indices.
  const std::vector<Particle> &particles() const { return particles_; }
  bool started() const { return started_; }
  int64_t simulatedFrame() const { return simulatedFrame_; }

  // Brings the simulation to `frame`, one frame after the other from `startFrame` on. A frame
  // before the simulated one starts over from `startFrame`. Returns true when anything changed.
  // A step costs the living particles and the births, not the dead slots; stretches in which
  // nothing lives and nothing is born are passed over at once.
  bool simulateTo(int32_t frame, int32_t fps, int32_t startFrame);
  // What one run of the animation passes at `frame` does: the next frame is simulated as usual,
  // but a jump ahead simulates a single step (births of that frame, one frame of motion), and a
  // jump back starts over with that single step. So the state at a frame depends on how it was
  // reached, as in a host whose particle system is not cached: only playing every frame from the
  // start gives the whole history. Returns true when anything changed.
  bool passTo(int32_t frame, int32_t fps, int32_t startFrame);

  // Particles the emitters give from `firstFrame` to `lastFrame` at `fps`, however long they live.
  double birthsBetween(int32_t firstFrame, int32_t lastFrame, int32_t fps) const;

private:
  // Starts over when the simulation has not started, starts elsewhere or lies past the frame;
  // true when particles were thrown away.
  bool startOverBefore(int32_t frame, int32_t startFrame);
  void reset(int32_t startFrame);
  void step(int64_t frame, int32_t fps);
  // Ages a living particle; false when it died.
  bool age(Particle &p, int64_t frame, double dt) const;
  void emit(size_t emitterIndex, int64_t frame, int32_t fps);
  int64_t emitStart(const Emitter &e) const;
  // The first frame after the simulated one in which an emitter gives birth, or INT64_MAX.
  int64_t nextBirthFrame(int32_t fps) const;

  std::vector<Particle> particles_;
  size_t fixedCount_ = 0;      // the first slots, which hold the fixed particles
  std::vector<size_t> living_; // slots of the emitted particles that are alive
  bool started_ = false;
  int32_t startFrame_ = 0;
  int64_t simulatedFrame_ = 0; // 64 bits: the frame before a start at INT32_MIN
};

} // namespace standin
