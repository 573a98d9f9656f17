#include "frame_pattern.h"

#include <cctype>
#include <cstdlib>

namespace ekrender {

std::string FramePattern::name(int frame) const {
  std::string digits = std::to_string(std::llabs(frame));
  if (digits.size() < size_t(width))
    digits.insert(0, size_t(width) - digits.size(), '0');
  return head + (frame < 0 ? "-" : "") + digits + tail;
}

bool findFramePattern(const std::string &path, FramePattern &pattern) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t hash = path.find_last_of('#');
  const size_t dollar = path.rfind("$F");
  if (hash != std::string::npos && hash >= nameStart &&
      (dollar == std::string::npos || dollar < hash)) {
    size_t first = hash;
    while (first > nameStart && path[first - 1] == '#')
      --first;
    pattern = {path.substr(0, first), path.substr(hash + 1), int(hash + 1 - first)};
    return true;
  }
  if (dollar == std::string::npos || dollar < nameStart)
    return false;
  size_t end = dollar + 2;
  while (end < path.size() && end < dollar + 4 &&
         std::isdigit(static_cast<unsigned char>(path[end])))
    ++end;
  const int width =
      end > dollar + 2 ? std::atoi(path.substr(dollar + 2, end - dollar - 2).c_str()) : 0;
  pattern = {path.substr(0, dollar), path.substr(end), width};
  return true;
}

FramePattern outputPattern(const std::string &output) {
  FramePattern pattern;
  if (findFramePattern(output, pattern))
    return pattern;
  const size_t dot = output.find_last_of('.');
  const size_t slash = output.find_last_of('/');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (!hasExtension)
    return {output + "_", "", 4};
  return {output.substr(0, dot) + "_", output.substr(dot), 4};
}

} // namespace ekrender
