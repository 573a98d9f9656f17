#include "ekpreview/render_settings_size.h"

#include <cmath>

namespace ek::plugin {

std::optional<double> renderSettingsSize(const host::Document &document, int32_t id) {
  const auto render = document.renderSettings();
  if (!render) {
    return std::nullopt;
  }
  const host::Value value = render->parameter(id);
  if (auto real = value.real()) {
    return std::trunc(*real + 0.5);
  }
  return value.asReal();
}

} // namespace ek::plugin
