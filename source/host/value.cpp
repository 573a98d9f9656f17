#include "host/value.h"

#include <cmath>
#include <limits>

#include "host/time_frame.h"

namespace ek::host {

double TimeValue::seconds() const {
  return denominator == 0 ? 0.0 : double(numerator) / double(denominator);
}

int32_t TimeValue::frame(int32_t fps) const { return frameOfTime(numerator, denominator, fps); }

TimeValue TimeValue::fromFrame(int32_t frame, int32_t fps) {
  return fps > 0 ? TimeValue{frame, fps} : TimeValue{0, 1};
}

Value::Value(const HostValue &raw) {
  switch (raw.kind) {
  case HOST_VALUE_INT:
    data_ = raw.integer;
    break;
  case HOST_VALUE_REAL:
    data_ = raw.real;
    break;
  case HOST_VALUE_VECTOR:
    data_ = Vector{raw.vector[0], raw.vector[1], raw.vector[2]};
    break;
  case HOST_VALUE_TIME:
    data_ = TimeValue{raw.timeNumerator, raw.timeDenominator};
    break;
  default:
    break;
  }
}

std::optional<int64_t> Value::integer() const {
  if (const auto *v = std::get_if<int64_t>(&data_)) {
    return *v;
  }
  return std::nullopt;
}

std::optional<double> Value::real() const {
  if (const auto *v = std::get_if<double>(&data_)) {
    return *v;
  }
  return std::nullopt;
}

std::optional<Vector> Value::vector() const {
  if (const auto *v = std::get_if<Vector>(&data_)) {
    return *v;
  }
  return std::nullopt;
}

std::optional<TimeValue> Value::time() const {
  if (const auto *v = std::get_if<TimeValue>(&data_)) {
    return *v;
  }
  return std::nullopt;
}

std::optional<int64_t> Value::asInteger() const {
  if (auto v = integer()) {
    return v;
  }
  // Reals beyond the integer range saturate instead of overflowing the conversion.
  constexpr double kLimit = 9.2233720368547748e18; // 2^63
  if (auto v = real(); v && std::isfinite(*v)) {
    if (*v >= kLimit) {
      return std::numeric_limits<int64_t>::max();
    }
    if (*v < -kLimit) {
      return std::numeric_limits<int64_t>::min();
    }
    return int64_t(std::trunc(*v));
  }
  return std::nullopt;
}

std::optional<double> Value::asReal() const {
  if (auto v = real()) {
    return v;
  }
  if (auto v = integer()) {
    return double(*v);
  }
  return std::nullopt;
}

} // namespace ek::host
