// Reading particle files with ekrender's readers beside the plainest loop over the same data, both
// after the file is in the page cache: for a binary PLY, one fread of the file and a loop that
// decodes its fixed records; for a .vdb, OpenVDB reading the grids and its own attribute handles
// iterating the points into world space. Each side fills the same arrays (positions, velocities,
// RGBA8 colours). The ratio printed is the baseline's time over the reader's (1: as fast).
//
//   bench_read [--points N] [--repeat N] [--only ply|vdb]
//
// The files are written by the benchmark (ekcache's swirl) into a temporary folder.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include <openvdb/openvdb.h>
#include <openvdb/points/PointCount.h>
#include <openvdb/points/PointDataGrid.h>

#include "particle_file.h"
#include "synthetic_cache.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string &message) {
  std::fprintf(stderr, "bench_read: %s\n", message.c_str());
  std::exit(1);
}

uint8_t unitByte(float v) {
  const float scaled = v * 255.0f + 0.5f;
  return !(scaled > 0.0f) ? 0 : scaled >= 255.0f ? 255 : uint8_t(scaled);
}

// The PLY written by writePlyCache, read knowing its layout: float x y z vx vy vz, uchar r g b.
void plainPly(const std::string &path, ekrender::ParticleData &out) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file)
    die(path + ": cannot open");
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  std::vector<char> bytes(static_cast<size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
    die(path + ": short read");
  std::fclose(file);
  const char *end = "end_header\n";
  const char *data = std::search(bytes.data(), bytes.data() + bytes.size(), end, end + 11) + 11;
  constexpr size_t kRecord = 27;
  const size_t count = size_t(bytes.data() + bytes.size() - data) / kRecord;
  out = {}; // fresh arrays, as the reader makes for every file
  out.positions.resize(count);
  out.velocities.resize(count);
  out.colors.resize(count * 4);
  for (size_t i = 0; i < count; ++i, data += kRecord) {
    std::memcpy(&out.positions[i], data, 12);
    std::memcpy(&out.velocities[i], data + 12, 12);
    std::memcpy(&out.colors[4 * i], data + 24, 3);
    out.colors[4 * i + 3] = 255;
  }
}

// OpenVDB's own iteration: every point of every grid through its attribute handles.
void plainVdb(const std::string &path, ekrender::ParticleData &out) {
  using namespace openvdb::points;
  openvdb::io::File file(path);
  file.open(false);
  const openvdb::GridPtrVecPtr grids = file.getGrids();
  file.close();
  out = {};
  uint64_t total = 0;
  for (const auto &base : *grids)
    total += pointCount(openvdb::GridBase::grid<PointDataGrid>(base)->tree());
  out.positions.reserve(total);
  out.velocities.reserve(total);
  out.colors.reserve(4 * total);
  for (const auto &base : *grids) {
    const auto grid = openvdb::GridBase::grid<PointDataGrid>(base);
    auto leaf = grid->tree().cbeginLeaf();
    if (!leaf)
      continue;
    const auto &descriptor = leaf->attributeSet().descriptor();
    const size_t p = descriptor.find("P"), v = descriptor.find("v"), cd = descriptor.find("Cd");
    const openvdb::math::Transform &transform = grid->transform();
    for (; leaf; ++leaf) {
      AttributeHandle<openvdb::Vec3f> position(leaf->constAttributeArray(p));
      AttributeHandle<openvdb::Vec3f> velocity(leaf->constAttributeArray(v));
      AttributeHandle<openvdb::Vec3f> color(leaf->constAttributeArray(cd));
      for (auto index = leaf->beginIndexOn(); index; ++index) {
        const openvdb::Vec3d world =
            transform.indexToWorld(index.getCoord().asVec3d() + position.get(*index));
        out.positions.push_back({float(world.x()), float(world.y()), float(world.z())});
        const openvdb::Vec3f w = velocity.get(*index), c = color.get(*index);
        out.velocities.push_back({w.x(), w.y(), w.z()});
        out.colors.insert(out.colors.end(),
                          {unitByte(c.x()), unitByte(c.y()), unitByte(c.z()), uint8_t(255)});
      }
    }
  }
}

double timeMs(const std::function<void()> &run) {
  const auto start = Clock::now();
  run();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Both sides must have read the same points.
void compare(const ekrender::ParticleData &a, const ekrender::ParticleData &b,
             const std::string &what) {
  if (a.positions.size() != b.positions.size() || a.velocities.size() != b.velocities.size() ||
      a.colors.size() != b.colors.size())
    die(what + ": the reader and the baseline read different counts");
  double sa = 0, sb = 0;
  for (size_t i = 0; i < a.positions.size(); ++i) {
    sa += a.positions[i].x + 2.0 * a.positions[i].y + 3.0 * a.positions[i].z + a.colors[4 * i];
    sb += b.positions[i].x + 2.0 * b.positions[i].y + 3.0 * b.positions[i].z + b.colors[4 * i];
  }
  if (std::abs(sa - sb) > 1e-6 * (std::abs(sa) + 1.0) * double(a.positions.size()))
    die(what + ": the reader and the baseline read different points");
}

} // namespace

int main(int argc, char **argv) {
  uint64_t points = 5000000;
  int repeat = 3;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--points")
      points = std::max<uint64_t>(1, std::strtoull(value.c_str(), nullptr, 10));
    else if (name == "--repeat")
      repeat = std::max(1, std::atoi(value.c_str()));
    else if (name == "--only" && (value == "ply" || value == "vdb"))
      only = value;
    else
      die("usage: bench_read [--points N] [--repeat N] [--only ply|vdb]");
  }
  openvdb::initialize();
  const fs::path folder = fs::temp_directory_path() / ("bench_read_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::vector<ekrender::CachePoint> swirl = ekrender::swirlPoints(points, 1);
  std::printf("%llu points, best of %d, files in the page cache\n", (unsigned long long)points,
              repeat);
  for (const std::string kind : {"ply", "vdb"}) {
    if (!only.empty() && only != kind)
      continue;
    const std::string path = (folder / ("swirl." + kind)).string();
    std::string error;
    if (!(kind == "ply" ? ekrender::writePlyCache(path, swirl, error)
                        : ekrender::writeVdbCache(path, swirl, error)))
      die(error);
    ekrender::ParticleData ours, plain;
    const auto readOurs = [&] {
      if (!ekrender::readParticleFile(path, ours, error))
        die(error);
    };
    const auto readPlain = [&] { kind == "ply" ? plainPly(path, plain) : plainVdb(path, plain); };
    readPlain(); // into the page cache
    double reader = 1e300, baseline = 1e300;
    for (int r = 0; r < repeat; ++r) { // in turn, so that a busy spell falls on both
      reader = std::min(reader, timeMs(readOurs));
      baseline = std::min(baseline, timeMs(readPlain));
    }
    compare(ours, plain, kind);
    std::printf("  .%s  %6.1f MB   ekrender %8.1f ms   %s %8.1f ms   ratio %.2f (goal 0.5)\n",
                kind.c_str(), double(fs::file_size(path)) / 1e6, reader,
                kind == "ply" ? "fread + loop   " : "OpenVDB handles", baseline, baseline / reader);
  }
  fs::remove_all(folder);
  return 0;
}
