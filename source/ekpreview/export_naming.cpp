#include "ekpreview/export_naming.h"

#include <cmath>
#include <cstdio>

#include "host/files.h"
#include "host/host_ids.h"

namespace ek::plugin {

namespace {

constexpr const char *kDefaultStem = "partikel";
constexpr int64_t kSecondsPerHour = 3600;
constexpr int64_t kSecondsPerMinute = 60;

} // namespace

std::string formatDuration(double seconds) {
  const double rounded = std::floor(std::max(seconds, 0.0) + 0.5);
  const int64_t s = std::isfinite(rounded) ? int64_t(std::min(rounded, 9.0e15)) : 0;
  char text[48];
  if (s < kSecondsPerHour) {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / kSecondsPerMinute),
                  static_cast<long long>(s % kSecondsPerMinute));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld",
                  static_cast<long long>(s / kSecondsPerHour),
                  static_cast<long long>((s / kSecondsPerMinute) % kSecondsPerMinute),
                  static_cast<long long>(s % kSecondsPerMinute));
  }
  return text;
}

std::optional<std::string> frameFileName(const std::string &folder, const std::string &stem,
                                         int32_t frame, const std::string &extension) {
  char number[16];
  std::snprintf(number, sizeof number, "_%04d.", int(frame));
  return host::joinPath(folder, stem + number + extension);
}

std::string exportStem(const host::Document &document) {
  std::string name = document.text(host::document::kFileName);
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of("/\\");
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    name.resize(dot);
  }
  return name.empty() ? kDefaultStem : name;
}

} // namespace ek::plugin
