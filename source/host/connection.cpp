#include "host/connection.h"

#include <cstddef>

namespace ek::host {

ConnectResult connect(const HostApi *table, int32_t minimumApiLevel) {
  if (detail::g_table != nullptr || table == nullptr || table->size < sizeof(HostApi) ||
      table->version != HOST_API_VERSION) {
    return ConnectResult::RefusedTable;
  }
  if (table->apiLevel < minimumApiLevel) {
    return ConnectResult::RefusedApiLevel;
  }
  detail::g_table = table;
  return ConnectResult::Connected;
}

void disconnect() { detail::g_table = nullptr; }

bool connected() { return detail::g_table != nullptr; }

} // namespace ek::host
