#include "host/text.h"

#include "host/connection.h"

namespace ek::host {

std::string formatReal(double value, int32_t decimals) {
  auto text = fetchText([&](char *buffer, int32_t size) {
    return call(&HostApi::formatReal, value, decimals, buffer, size);
  });
  return text.value_or(std::string());
}

std::string substitute(const std::string &pattern, std::initializer_list<std::string> values) {
  std::string result;
  result.reserve(pattern.size());
  auto next = values.begin();
  for (char c : pattern) {
    if (c == '@' && next != values.end()) {
      result += *next++;
    } else {
      result += c;
    }
  }
  return result;
}

} // namespace ek::host
