#include "host/connection.h"

#include <cstddef>

namespace ek::host {

namespace {

const HostApi *g_table = nullptr;

} // namespace

ConnectResult connect(const HostApi *table, int32_t minimumApiLevel) {
  if (g_table != nullptr || table == nullptr || table->size < sizeof(HostApi) ||
      table->version != HOST_API_VERSION) {
    return ConnectResult::RefusedTable;
  }
  if (table->apiLevel < minimumApiLevel) {
    return ConnectResult::RefusedApiLevel;
  }
  g_table = table;
  return ConnectResult::Connected;
}

void disconnect() { g_table = nullptr; }

bool connected() { return g_table != nullptr; }

const HostApi &api() { return *g_table; }

HostInstance *instance() { return g_table->instance; }

} // namespace ek::host
