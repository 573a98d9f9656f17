// A build without the OpenVDB library (the Windows cross build) refuses .vdb files by name.
#include "vdb_points.h"

namespace ekrender {

bool readVdbPoints(const std::string &path, ParticleData &, std::string &error) {
  error = path + ": this ekrender was built without OpenVDB, so it cannot read .vdb files";
  return false;
}

} // namespace ekrender
