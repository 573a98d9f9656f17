// synthetic_cache.h without OpenVDB (the Windows cross build).
#include "synthetic_cache.h"

namespace ekrender {

bool writeVdbCache(const std::string &path, const std::vector<CachePoint> &, std::string &error) {
  error = path + ": this build has no OpenVDB; write .ply instead";
  return false;
}

} // namespace ekrender
