// The operation table the host handed over, kept for the wrapper classes of this folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/host_api.h"

namespace ek::host {

enum class ConnectResult {
  Connected,
  RefusedTable,    // null, too small, of another version, or a host is connected already
  RefusedApiLevel, // the host's API level is below the minimum
};

// Accepts the table when it is complete and the host's API level is at least minimumApiLevel.
ConnectResult connect(const HostApi *table, int32_t minimumApiLevel);
void disconnect();
bool connected();

namespace detail {
// The connected table; null while no host is connected.
inline const HostApi *g_table = nullptr;
} // namespace detail

// The connected table and host instance; only valid while connected(). Inline, because every
// host call goes through them (a particle read makes millions).
inline const HostApi &api() { return *detail::g_table; }
inline HostInstance *instance() { return detail::g_table->instance; }

// Calls one operation of the table with the host instance as its first argument.
template <typename Operation, typename... Args>
auto call(Operation HostApi::*operation, Args... args) {
  return (api().*operation)(instance(), args...);
}

// Reads a text through an operation that follows the table's text convention; absent when the
// operation reports no text.
template <typename Fetch> std::optional<std::string> fetchText(Fetch fetch) {
  char buffer[256];
  const int32_t length = fetch(buffer, int32_t(sizeof buffer));
  if (length < 0) {
    return std::nullopt;
  }
  if (length < int32_t(sizeof buffer)) {
    return std::string(buffer, size_t(length));
  }
  std::string text(size_t(length) + 1, '\0');
  const int32_t again = fetch(text.data(), length + 1);
  if (again < 0) {
    return std::nullopt;
  }
  text.resize(size_t(again < length ? again : length));
  return text;
}

} // namespace ek::host
