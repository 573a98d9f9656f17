// Typed values of host parameters: integers, reals, vectors and times.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <variant>

#include "host/host_api.h"

namespace ek::host {

using Vector = std::array<double, 3>;

// A point in time as the host keeps it: a fraction of seconds.
struct TimeValue {
  int64_t numerator = 0;
  int64_t denominator = 1;

  // Seconds; 0 when the denominator is 0.
  double seconds() const;
  // The frame at the given rate, rounded down exactly (see frameOfTime).
  int32_t frame(int32_t fps) const;
  static TimeValue fromFrame(int32_t frame, int32_t fps);
};

// One parameter value, or none when the parameter is missing.
class Value {
public:
  Value() = default;
  explicit Value(const HostValue &raw);

  bool present() const { return !std::holds_alternative<std::monostate>(data_); }
  bool isInteger() const { return std::holds_alternative<int64_t>(data_); }
  bool isReal() const { return std::holds_alternative<double>(data_); }

  std::optional<int64_t> integer() const; // integers only
  std::optional<double> real() const;     // reals only
  std::optional<Vector> vector() const;
  std::optional<TimeValue> time() const;

  // Integers and reals alike: a real is truncated to an integer, an integer becomes a real.
  std::optional<int64_t> asInteger() const;
  std::optional<double> asReal() const;

private:
  std::variant<std::monostate, int64_t, double, Vector, TimeValue> data_;
};

} // namespace ek::host
