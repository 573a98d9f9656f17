// The OpenVDB half of synthetic_cache.h.
#include "synthetic_cache.h"

#include <openvdb/openvdb.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/points/PointCount.h>
#include <openvdb/points/PointDataGrid.h>

namespace ekrender {

bool writeVdbCache(const std::string &path, const std::vector<CachePoint> &points,
                   std::string &error) {
  namespace vdbp = openvdb::points;
  using openvdb::Vec3f;
  openvdb::initialize();
  try {
    std::vector<Vec3f> positions(points.size()), velocities(points.size()), colors(points.size());
    std::vector<int32_t> ids(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
      const CachePoint &p = points[i];
      positions[i] = Vec3f(p.position[0], p.position[1], p.position[2]);
      velocities[i] = Vec3f(p.velocity[0], p.velocity[1], p.velocity[2]);
      colors[i] = Vec3f(p.color[0], p.color[1], p.color[2]);
      ids[i] = int32_t(i);
    }
    const vdbp::PointAttributeVector<Vec3f> wrapper(positions);
    // About eight points to a voxel, as simulation tools size their point grids.
    const double voxelSize = positions.empty() ? 0.5 : vdbp::computeVoxelSize(wrapper, 8);
    const auto transform = openvdb::math::Transform::createLinearTransform(voxelSize);
    const auto index =
        openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(wrapper, *transform);
    auto grid = vdbp::createPointDataGrid<vdbp::FixedPointCodec<false>, vdbp::PointDataGrid>(
        *index, wrapper, *transform);
    grid->setName("points");
    vdbp::appendAttribute<Vec3f, vdbp::TruncateCodec>(grid->tree(), "v");
    vdbp::populateAttribute(grid->tree(), index->tree(), "v",
                            vdbp::PointAttributeVector<Vec3f>(velocities));
    vdbp::appendAttribute<Vec3f, vdbp::TruncateCodec>(grid->tree(), "Cd");
    vdbp::populateAttribute(grid->tree(), index->tree(), "Cd",
                            vdbp::PointAttributeVector<Vec3f>(colors));
    vdbp::appendAttribute<int32_t>(grid->tree(), "id");
    vdbp::populateAttribute(grid->tree(), index->tree(), "id",
                            vdbp::PointAttributeVector<int32_t>(ids));
    openvdb::io::File(path).write({grid});
  } catch (const std::exception &e) {
    error = path + ": " + e.what();
    return false;
  }
  return true;
}

} // namespace ekrender
