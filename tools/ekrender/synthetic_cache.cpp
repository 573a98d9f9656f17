#include "synthetic_cache.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ekrender {

namespace {

// SplitMix64: well-spread bits from a counter.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

float unit(uint64_t bits) { return float(bits >> 40) / float(1 << 24); }

constexpr float kPi = 3.14159265f;

} // namespace

std::vector<CachePoint> swirlPoints(uint64_t count, int frame) {
  std::vector<CachePoint> points(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t a = mix(2 * i), b = mix(2 * i + 1);
    const float radius = 1.0f + 9.0f * std::sqrt(unit(a));
    const float spin = 0.08f * (11.0f - radius); // inner points turn faster
    const float angle = 2.0f * kPi * unit(b) + spin * float(frame);
    const float height = 3.0f * (unit(a << 24) - 0.5f) + 0.05f * radius * std::sin(angle * 3.0f);
    CachePoint &p = points[i];
    p.position[0] = radius * std::cos(angle);
    p.position[1] = height;
    p.position[2] = radius * std::sin(angle);
    p.velocity[0] = -spin * p.position[2];
    p.velocity[1] = 0.0f;
    p.velocity[2] = spin * p.position[0];
    const float t = (radius - 1.0f) / 9.0f;
    p.color[0] = 1.0f;
    p.color[1] = 0.85f - 0.6f * t;
    p.color[2] = 0.3f * (1.0f - t) + 0.25f * unit(b << 24);
  }
  return points;
}

bool writePlyCache(const std::string &path, const std::vector<CachePoint> &points,
                   std::string &error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "wb"),
                                                        std::fclose);
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const std::string header = "ply\nformat binary_little_endian 1.0\ncomment ekcache swirl\n"
                             "element vertex " +
                             std::to_string(points.size()) +
                             "\nproperty float x\nproperty float y\nproperty float z\n"
                             "property float vx\nproperty float vy\nproperty float vz\n"
                             "property uchar red\nproperty uchar green\nproperty uchar blue\n"
                             "end_header\n";
  constexpr size_t kRecord = 6 * sizeof(float) + 3;
  std::vector<unsigned char> data(points.size() * kRecord);
  unsigned char *out = data.data();
  for (const CachePoint &p : points) {
    std::memcpy(out, p.position, sizeof p.position);
    std::memcpy(out + 12, p.velocity, sizeof p.velocity);
    for (int k = 0; k < 3; ++k)
      out[24 + k] = uint8_t(std::lround(std::fmin(std::fmax(p.color[k], 0.0f), 1.0f) * 255.0f));
    out += kRecord;
  }
  if (std::fwrite(header.data(), 1, header.size(), file.get()) != header.size() ||
      std::fwrite(data.data(), 1, data.size(), file.get()) != data.size() ||
      std::fclose(file.release()) != 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

} // namespace ekrender
