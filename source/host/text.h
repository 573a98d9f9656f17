// Texts built at run time: the host's number formatting and "@" placeholders.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace ek::host {

// The value with the given number of decimals, formatted by the host.
std::string formatReal(double value, int32_t decimals);

// Replaces each "@" of the pattern, in order, by the next value; placeholders without a value
// stay as they are and surplus values are ignored.
std::string substitute(const std::string &pattern, std::initializer_list<std::string> values);

} // namespace ek::host
