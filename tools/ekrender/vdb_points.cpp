#include "vdb_points.h"

#include <algorithm>
#include <cmath>
#include <set>

#include <openvdb/openvdb.h>
#include <openvdb/points/PointCount.h>
#include <openvdb/points/PointDataGrid.h>

namespace ekrender {

namespace {

using openvdb::Vec3f;
using openvdb::points::AttributeArray;
using openvdb::points::AttributeHandle;
using openvdb::points::PointDataGrid;

constexpr size_t kAbsent = openvdb::points::AttributeSet::INVALID_POS;

uint8_t unitByte(float v) {
  const float scaled = v * 255.0f + 0.5f;
  if (!(scaled > 0.0f))
    return 0;
  return scaled >= 255.0f ? 255 : uint8_t(scaled);
}

// Where the attributes the renderer uses sit in a grid's attribute set.
struct Layout {
  size_t position = kAbsent, velocity = kAbsent, color = kAbsent, alpha = kAbsent;
};

// Finds the attributes and checks their types; the ones the renderer cannot use go to `ignored`.
bool layoutOf(const openvdb::points::AttributeSet::Descriptor &descriptor, const std::string &where,
              Layout &layout, std::set<std::string> &ignored, std::string &error) {
  struct Wanted {
    const char *name;
    size_t *index;
    const char *type; // the value type the attribute must decode to
  };
  const Wanted wanted[] = {{"P", &layout.position, "vec3s"},
                           {"v", &layout.velocity, "vec3s"},
                           {"Cd", &layout.color, "vec3s"},
                           {"Alpha", &layout.alpha, "float"}};
  for (const auto &[name, index] : descriptor.map()) {
    const Wanted *match = std::find_if(std::begin(wanted), std::end(wanted),
                                       [&name = name](const Wanted &w) { return name == w.name; });
    if (match == std::end(wanted)) {
      ignored.insert(name);
      continue;
    }
    const std::string type = descriptor.valueType(index);
    if (type != match->type) {
      error = where + ": attribute \"" + name + "\" holds " + type + ", expected " + match->type;
      return false;
    }
    *match->index = index;
  }
  if (layout.position == kAbsent) {
    error = where + ": the points have no \"P\" attribute";
    return false;
  }
  return true;
}

// Appends the points of one grid; colours and velocities are filled for every point read so far
// once any grid has them.
bool readGrid(const PointDataGrid &grid, const std::string &where, ParticleData &out,
              std::set<std::string> &ignored, bool &anyColor, bool &anyVelocity,
              std::string &error) {
  auto leaf = grid.tree().cbeginLeaf();
  if (!leaf)
    return true;
  Layout layout;
  if (!layoutOf(leaf->attributeSet().descriptor(), where, layout, ignored, error))
    return false;
  const openvdb::math::Transform &transform = grid.transform();
  for (; leaf; ++leaf) {
    AttributeHandle<Vec3f> position(leaf->constAttributeArray(layout.position));
    std::unique_ptr<AttributeHandle<Vec3f>> velocity, color;
    std::unique_ptr<AttributeHandle<float>> alpha;
    if (layout.velocity != kAbsent)
      velocity =
          std::make_unique<AttributeHandle<Vec3f>>(leaf->constAttributeArray(layout.velocity));
    if (layout.color != kAbsent)
      color = std::make_unique<AttributeHandle<Vec3f>>(leaf->constAttributeArray(layout.color));
    if (layout.alpha != kAbsent)
      alpha = std::make_unique<AttributeHandle<float>>(leaf->constAttributeArray(layout.alpha));
    for (auto index = leaf->beginIndexOn(); index; ++index) {
      const openvdb::Vec3d world =
          transform.indexToWorld(index.getCoord().asVec3d() + openvdb::Vec3d(position.get(*index)));
      out.positions.push_back({float(world.x()), float(world.y()), float(world.z())});
      if (color || alpha) {
        const Vec3f c = color ? color->get(*index) : Vec3f(1.0f);
        const float a = alpha ? alpha->get(*index) : 1.0f;
        out.colors.insert(out.colors.end(),
                          {unitByte(c.x()), unitByte(c.y()), unitByte(c.z()), unitByte(a)});
      } else if (anyColor) {
        out.colors.insert(out.colors.end(), {255, 255, 255, 255});
      }
      if (velocity) {
        const Vec3f v = velocity->get(*index);
        out.velocities.push_back({v.x(), v.y(), v.z()});
      } else if (anyVelocity) {
        out.velocities.push_back({0, 0, 0});
      }
    }
    // The first grid with colours or velocities: the points before it get the defaults.
    if ((color || alpha) && !anyColor) {
      anyColor = true;
      const size_t missing = out.positions.size() * 4 - out.colors.size();
      out.colors.insert(out.colors.begin(), missing, 255);
    }
    if (velocity && !anyVelocity) {
      anyVelocity = true;
      out.velocities.insert(out.velocities.begin(), out.positions.size() - out.velocities.size(),
                            EKV3{0, 0, 0});
    }
  }
  return true;
}

} // namespace

bool readVdbPoints(const std::string &path, ParticleData &out, std::string &error) {
  out = {};
  openvdb::initialize();
  openvdb::GridPtrVecPtr grids;
  try {
    openvdb::io::File file(path);
    file.open(false); // read everything now, so a damaged file fails here and not mid-render
    grids = file.getGrids();
    file.close();
  } catch (const std::exception &e) {
    error = path + ": not a readable OpenVDB file (" + e.what() + ")";
    return false;
  }
  uint64_t total = 0;
  for (const openvdb::GridBase::Ptr &base : *grids)
    if (const PointDataGrid::Ptr grid = openvdb::GridBase::grid<PointDataGrid>(base))
      total += openvdb::points::pointCount(grid->tree());
  out.positions.reserve(total);
  std::set<std::string> ignored;
  bool anyColor = false, anyVelocity = false;
  int pointGrids = 0;
  for (const openvdb::GridBase::Ptr &base : *grids) {
    const PointDataGrid::Ptr grid = openvdb::GridBase::grid<PointDataGrid>(base);
    if (!grid)
      continue;
    ++pointGrids;
    const std::string where = path + ": grid \"" + grid->getName() + "\"";
    try {
      if (!readGrid(*grid, where, out, ignored, anyColor, anyVelocity, error))
        return false;
    } catch (const std::exception &e) {
      error = where + ": " + e.what();
      return false;
    }
  }
  if (pointGrids == 0) {
    error = path + ": the file holds no point data grids";
    return false;
  }
  out.columns = std::to_string(pointGrids) + " point grid" + (pointGrids > 1 ? "s" : "") +
                "; used P" + (anyVelocity ? ", v" : "") + (anyColor ? ", Cd/Alpha" : "");
  if (!ignored.empty()) {
    out.columns += "; ignored";
    for (const std::string &name : ignored)
      out.columns += " " + name;
  }
  return true;
}

} // namespace ekrender
