#include "scene/particles.h"

#include <algorithm>
#include <cmath>

#include "scene/hash.h"

namespace standin {

namespace {

constexpr double kPi = 3.14159265358979323846;

enum Channel : uint32_t { kJitterX, kJitterY, kJitterZ, kConeCos, kConeAngle, kSpeed };

Color blend(const Color &a, const Color &b, float t) {
  return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
          a.blue + (b.blue - a.blue) * t};
}

// A direction within `spreadDegrees` of `axis`, chosen uniformly over the cone's solid angle.
Vec3 coneDirection(Vec3 axis, double spreadDegrees, double u1, double u2) {
  const double cosMax = std::cos(std::clamp(spreadDegrees, 0.0, 180.0) * kPi / 180.0);
  const double cosTheta = 1.0 - u1 * (1.0 - cosMax);
  const double sinTheta = std::sqrt(std::max(0.0, 1.0 - cosTheta * cosTheta));
  const double phi = 2.0 * kPi * u2;
  const Vec3 helper = std::fabs(axis.y) < 0.9 ? Vec3{0.0, 1.0, 0.0} : Vec3{1.0, 0.0, 0.0};
  const Vec3 t1 = normalized(cross(helper, axis));
  const Vec3 t2 = cross(axis, t1);
  return axis * cosTheta + (t1 * std::cos(phi) + t2 * std::sin(phi)) * sinTheta;
}

// Births of an emitter up to and including `framesSinceStart` frames after its start.
int64_t birthsUpTo(double rate, int64_t framesSinceStart, int32_t fps) {
  return int64_t(std::floor(rate * double(framesSinceStart + 1) / double(fps)));
}

} // namespace

bool ParticleSystem::startOverBefore(int32_t frame, int32_t startFrame) {
  if (started_ && startFrame == startFrame_ && frame >= simulatedFrame_) {
    return false;
  }
  const bool hadParticles = started_ && !particles_.empty();
  reset(startFrame);
  return hadParticles;
}

bool ParticleSystem::simulateTo(int32_t frame, int32_t fps, int32_t startFrame) {
  if (fps <= 0) {
    return false;
  }
  bool changed = startOverBefore(frame, startFrame);
  while (simulatedFrame_ < frame) {
    step(simulatedFrame_ + 1, fps);
    changed = true;
  }
  return changed;
}

bool ParticleSystem::passTo(int32_t frame, int32_t fps, int32_t startFrame) {
  if (fps <= 0) {
    return false;
  }
  bool changed = startOverBefore(frame, startFrame);
  if (frame > simulatedFrame_ && frame >= startFrame_) {
    step(frame, fps);
    changed = true;
  }
  return changed;
}

void ParticleSystem::reset(int32_t startFrame) {
  particles_ = fixed;
  fixedCount_ = fixed.size();
  started_ = true;
  startFrame_ = startFrame;
  simulatedFrame_ = startFrame - 1;
}

void ParticleSystem::step(int32_t frame, int32_t fps) {
  const double dt = 1.0 / double(fps);
  for (size_t i = fixedCount_; i < particles_.size(); ++i) {
    if (particles_[i].alive) {
      age(particles_[i], frame, dt);
    }
  }
  for (size_t e = 0; e < emitters.size(); ++e) {
    emit(e, frame, fps);
  }
  simulatedFrame_ = frame;
}

void ParticleSystem::age(Particle &p, int32_t frame, double dt) const {
  const Emitter &e = emitters[size_t(p.emitter)];
  const int32_t age = frame - p.birthFrame;
  if (age >= e.lifeFrames) {
    p.alive = false;
    return;
  }
  p.velocity = p.velocity + e.gravity * dt;
  p.position = p.position + p.velocity * dt;
  p.color = blend(e.startColor, e.endColor, float(age) / float(std::max(e.lifeFrames, 1)));
}

int32_t ParticleSystem::emitStart(const Emitter &e) const {
  return std::max(e.firstFrame, startFrame_);
}

void ParticleSystem::emit(size_t emitterIndex, int32_t frame, int32_t fps) {
  const Emitter &e = emitters[emitterIndex];
  const int32_t start = emitStart(e);
  if (frame < start || frame > e.lastFrame || e.lifeFrames < 1 || e.rate <= 0.0) {
    return;
  }
  const int64_t since = int64_t(frame) - start;
  const int64_t count =
      birthsUpTo(e.rate, since, fps) - (since > 0 ? birthsUpTo(e.rate, since - 1, fps) : 0);
  const double speed = length(e.velocity);
  const Vec3 axis = normalized(e.velocity);
  for (int64_t k = 0; k < count; ++k) {
    auto draw = [&](uint32_t channel) {
      return uniform(seed, uint32_t(emitterIndex), uint32_t(frame), uint32_t(k), channel);
    };
    Particle p;
    p.emitter = int32_t(emitterIndex);
    p.birthFrame = frame;
    p.position = e.position + Vec3{e.halfSize.x * (2.0 * draw(kJitterX) - 1.0),
                                   e.halfSize.y * (2.0 * draw(kJitterY) - 1.0),
                                   e.halfSize.z * (2.0 * draw(kJitterZ) - 1.0)};
    const double variedSpeed = speed * (1.0 + e.speedVariation * (2.0 * draw(kSpeed) - 1.0));
    p.velocity =
        speed > 0.0
            ? coneDirection(axis, e.spreadDegrees, draw(kConeCos), draw(kConeAngle)) * variedSpeed
            : Vec3{};
    p.color = e.startColor;
    particles_.push_back(p);
  }
}

} // namespace standin
