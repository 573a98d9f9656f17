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
    if (living_.empty()) {
      // Nothing alive ages: the simulation moves on to the frame before the next birth.
      const int64_t quiet = std::min<int64_t>(nextBirthFrame(fps) - 1, frame);
      changed = changed || quiet > simulatedFrame_;
      simulatedFrame_ = std::max(simulatedFrame_, quiet);
      if (simulatedFrame_ == frame) {
        break;
      }
    }
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

double ParticleSystem::birthsBetween(int32_t firstFrame, int32_t lastFrame, int32_t fps) const {
  double births = 0.0;
  for (const Emitter &e : emitters) {
    if (e.lifeFrames < 1 || !(e.rate > 0.0)) {
      continue;
    }
    const int64_t from = std::max(e.firstFrame, firstFrame);
    const int64_t to = std::min(e.lastFrame, lastFrame);
    if (to >= from) {
      births += std::ceil(e.rate * double(to - from + 1) / double(fps));
    }
  }
  return births;
}

void ParticleSystem::reset(int32_t startFrame) {
  particles_ = fixed;
  fixedCount_ = fixed.size();
  living_.clear();
  started_ = true;
  startFrame_ = startFrame;
  simulatedFrame_ = int64_t(startFrame) - 1;
}

void ParticleSystem::step(int64_t frame, int32_t fps) {
  const double dt = 1.0 / double(fps);
  // The living slots are aged in place and the dead ones dropped from the list, keeping its order.
  size_t kept = 0;
  for (const size_t slot : living_) {
    if (age(particles_[slot], frame, dt)) {
      living_[kept++] = slot;
    }
  }
  living_.resize(kept);
  for (size_t e = 0; e < emitters.size(); ++e) {
    emit(e, frame, fps);
  }
  simulatedFrame_ = frame;
}

bool ParticleSystem::age(Particle &p, int64_t frame, double dt) const {
  const Emitter &e = emitters[size_t(p.emitter)];
  const int64_t age = frame - p.birthFrame;
  if (age >= e.lifeFrames) {
    p.alive = false;
    return false;
  }
  p.velocity = p.velocity + e.gravity * dt;
  p.position = p.position + p.velocity * dt;
  p.color = blend(e.startColor, e.endColor, float(age) / float(std::max(e.lifeFrames, 1)));
  return true;
}

int64_t ParticleSystem::emitStart(const Emitter &e) const {
  return std::max(e.firstFrame, startFrame_);
}

int64_t ParticleSystem::nextBirthFrame(int32_t fps) const {
  int64_t next = INT64_MAX;
  for (const Emitter &e : emitters) {
    if (e.lifeFrames < 1 || !(e.rate > 0.0)) {
      continue;
    }
    const int64_t start = emitStart(e);
    const int64_t since = std::max(simulatedFrame_ + 1, start) - start;
    if (start + since > e.lastFrame) {
      continue;
    }
    // The births so far reach the next whole number at about this many frames since the start;
    // two frames of margin keep rounding from skipping a birth, the steps find it exactly.
    const double born = since > 0 ? double(birthsUpTo(e.rate, since - 1, fps)) : 0.0;
    const double due = std::ceil((born + 1.0) * double(fps) / e.rate) - 3.0;
    const int64_t first = due > double(since) ? int64_t(std::min(due, 9.0e18)) : since;
    next = std::min(next, start + first);
  }
  return next;
}

void ParticleSystem::emit(size_t emitterIndex, int64_t frame, int32_t fps) {
  const Emitter &e = emitters[emitterIndex];
  const int64_t start = emitStart(e);
  if (frame < start || frame > e.lastFrame || e.lifeFrames < 1 || !(e.rate > 0.0)) {
    return;
  }
  const int64_t since = frame - start;
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
    p.birthFrame = int32_t(frame);
    p.position = e.position + Vec3{e.halfSize.x * (2.0 * draw(kJitterX) - 1.0),
                                   e.halfSize.y * (2.0 * draw(kJitterY) - 1.0),
                                   e.halfSize.z * (2.0 * draw(kJitterZ) - 1.0)};
    const double variedSpeed = speed * (1.0 + e.speedVariation * (2.0 * draw(kSpeed) - 1.0));
    p.velocity =
        speed > 0.0
            ? coneDirection(axis, e.spreadDegrees, draw(kConeCos), draw(kConeAngle)) * variedSpeed
            : Vec3{};
    p.color = e.startColor;
    living_.push_back(particles_.size());
    particles_.push_back(p);
  }
}

} // namespace standin
